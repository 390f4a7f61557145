#include "agent/copy/PMFileNameText.h"

#include "platform/FileNameCodec.h"

bool PMFileNameText::isValidUtf8(QByteArrayView name)
{
    return !platform::FileNameCodec::hasEscapedBytes(platform::FileNameCodec::decode(name));
}

QString PMFileNameText::escaped(QByteArrayView name)
{
    // Backslashes are doubled first, so that a "\x" in a real name never reads as a byte.
    QString text = platform::FileNameCodec::decode(name);
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return platform::FileNameCodec::printable(text);
}

QString PMFileNameText::caseKey(const QString &name)
{
    return name.toCaseFolded();
}
