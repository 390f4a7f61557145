#include "agent/copy/PMFileNameText.h"

namespace {

// The length of the valid UTF-8 sequence starting at data[0], or 0 when it is invalid
// (overlong forms, surrogates and code points above U+10FFFF are invalid).
qsizetype validSequenceLength(const unsigned char *data, qsizetype available)
{
    const unsigned char lead = data[0];
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    char32_t minimum = 0;
    char32_t code = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        minimum = 0x80;
        code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        minimum = 0x800;
        code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        minimum = 0x10000;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (available < length)
        return 0;
    for (qsizetype i = 1; i < length; ++i) {
        if ((data[i] & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (data[i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

} // namespace

bool PMFileNameText::isValidUtf8(QByteArrayView name)
{
    const auto *data = reinterpret_cast<const unsigned char *>(name.data());
    for (qsizetype i = 0; i < name.size();) {
        const qsizetype length = validSequenceLength(data + i, name.size() - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

QString PMFileNameText::escaped(QByteArrayView name)
{
    const auto *data = reinterpret_cast<const unsigned char *>(name.data());
    QString text;
    for (qsizetype i = 0; i < name.size();) {
        const qsizetype length = validSequenceLength(data + i, name.size() - i);
        if (length == 0) {
            text += QStringLiteral("\\x") + QString::number(data[i], 16).toUpper().rightJustified(2, QLatin1Char('0'));
            ++i;
        } else if (data[i] == '\\') {
            text += QLatin1String("\\\\");
            ++i;
        } else {
            text += QString::fromUtf8(name.sliced(i, length));
            i += length;
        }
    }
    return text;
}

QString PMFileNameText::caseKey(const QString &name)
{
    return name.toCaseFolded();
}
