// The codec codes the device rules speak: a media file's four-character sample-description
// type ("avc1", "mp4a", ...) mapped to a small number (H.264 video is 1, AAC audio is 1, ...).
//
//   const quint32 type = PMMediaCodecCodes::fourCC("avc1");
//   if (PMMediaCodecCodes::videoCodeForType(type) == PMMediaCodecCodes::kVideoH264) ...
//
// A type the tables do not know answers 0 and writes "unknown video codec %lx" (or audio) to
// the console, with the type as its big-endian number. Pure and reentrant.
#pragma once

#include <QString>
#include <QtGlobal>

namespace PMMediaCodecCodes {

// A four-character type as the big-endian number a sample description stores ('avc1').
constexpr quint32 fourCC(const char (&text)[5])
{
    return (quint32(quint8(text[0])) << 24) | (quint32(quint8(text[1])) << 16) | (quint32(quint8(text[2])) << 8)
        | quint32(quint8(text[3]));
}

// Printable form of a type; bytes outside printable ASCII are shown as "\xNN".
QString typeText(quint32 type);

enum VideoCode {
    kVideoUnknown = 0,
    kVideoH264 = 1,
    kVideoMPEG4 = 2,
    kVideoWindowsMJPEG = 3,
    kVideoMotionJPEG = 4,
    kVideoAnimation = 6,
    kVideoRaw = 7,
    kVideoCinepak = 8,
    kVideoGraphics = 9,
    kVideoRoadPizza = 10,
    kVideoComponent = 11,
    kVideoPhotoJPEG = 12,
    kVideoJPEG2000 = 13,
    kVideoWindowsRLE = 14,
    kVideoH261 = 15,
    kVideoH263 = 16,
    kVideoDV = 17,
    kVideoIcon = 18,
    kVideoProtected = 19,
    kVideoPNG = 20,
    kVideoWindowsRaw = 22,
};

enum AudioCode {
    kAudioUnknown = 0,
    kAudioAAC = 1,
    kAudioMP3 = 2,
    kAudioAppleLossless = 3,
    kAudioPCM = 6,
    kAudioULaw = 7,
    kAudioALaw = 8,
    kAudioAudible = 9,
    kAudioMACE = 10,
    kAudioIMA4 = 11,
    kAudioQCELP = 12,
    kAudioQDesign = 13,
    kAudioAC3 = 14,
    kAudioAMR = 15,
    kAudioILBC = 16,
    kAudioProtectedAAC = 17,
    kAudioGeneric = 18,
    kAudioMIDI = 19,
    kAudioDVIADPCM = 20,
};

// Code of a video sample-description type; 0 (and the console line) for a type not listed.
int videoCodeForType(quint32 type);
// Code of a sound sample-description type; 0 (and the console line) for a type not listed.
int audioCodeForType(quint32 type);

// A code as a person reads it: "H.264 (1)", "AC-3 (14)"; "unknown (0)" for 0 and codes not
// assigned.
QString videoCodeName(int code);
QString audioCodeName(int code);

} // namespace PMMediaCodecCodes
