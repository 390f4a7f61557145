// The facts read from one media file that the codec rules judge: whether it opened, its
// video (codec code, size, frame rate of the last enabled video track) and up to 16 audio
// entries (one per enabled sound track). Codes are those of PMMediaCodecCodes.
//
// A plain value; filled by PMMediaCharacterizer or by hand (tests, protected content that no
// tool can make). Safe to copy between threads.
#pragma once

#include <QtGlobal>

#include <array>

struct MediaFileAudioEntry {
    int codec = 0;
    float sampleRate = 0.0f; // whole hertz
    int channels = 0;
};

struct MediaFileCharacterization {
    static constexpr int kMaxAudioEntries = 16;

    int containerType = 0;
    bool opened = false;
    bool hasVideo = false;
    bool hasAudio = false;
    float duration = 0.0f; // seconds
    int videoCodec = 0;
    int width = 0;
    int height = 0;
    float frameRate = 0.0f;
    // The frame rate as the exact fraction it was computed from, so a limit of 30 frames per
    // second admits 30/1 and 30000/1001 and refuses 3001/100 without rounding doubt. A zero
    // denominator means only frameRate is known (hand-filled records).
    qint64 frameRateNumerator = 0;
    qint64 frameRateDenominator = 0;
    int audioCount = 0;
    std::array<MediaFileAudioEntry, kMaxAudioEntries> audio {};

    // Clears the record for a new file: only the container code stays.
    void reset(int container)
    {
        *this = MediaFileCharacterization();
        containerType = container;
    }

    // Whether the frame rate is above limit frames per second, exactly when the fraction is known.
    bool frameRateAbove(int limit) const
    {
        if (frameRateDenominator > 0 && frameRateNumerator >= 0)
            return frameRateNumerator > qint64(limit) * frameRateDenominator;
        return frameRate > float(limit);
    }
};
