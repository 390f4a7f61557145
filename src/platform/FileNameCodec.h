// File names as the kernel keeps them (any bytes but '/' and NUL) carried losslessly as text.
// Valid UTF-8 decodes as usual, so ordinary paths are the same text as everywhere else in Qt;
// each byte of a sequence that is not valid UTF-8 becomes the lone low surrogate U+DC00+byte
// (U+DC80..U+DCFF), which no valid UTF-8 can produce, and encodes back to that very byte.
// QFile::encodeName/decodeName would turn such bytes into U+FFFD and lose the name.
//
//   const QString name = FileNameCodec::decode(entry->d_name);     // "caf\xE9" -> "caf" U+DCE9
//   ::open(FileNameCodec::encode(path).constData(), O_RDONLY);     // the same bytes again
//   log(FileNameCodec::printable(path));                           // "caf\xE9"
//
// Pure functions; any thread.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace platform {

class FileNameCodec {
public:
    static QString decode(QByteArrayView bytes);
    // Text that holds a lone surrogate decode() never makes is written as U+FFFD.
    static QByteArray encode(const QString &name);
    // True when the text holds bytes that were not valid UTF-8, so only a file system that
    // takes any bytes in names can hold it.
    static bool hasEscapedBytes(const QString &name);
    // For logs and progress: every escaped byte written as \xHH, the rest unchanged.
    static QString printable(const QString &name);
};

} // namespace platform
