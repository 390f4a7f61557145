#include "platform/FileNameCodec.h"

namespace platform {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kFirstEscape = 0xDC80;
constexpr char16_t kLastEscape = 0xDCFF;

// The code point of the valid UTF-8 sequence at data[0] and its length, or length 0 when the
// sequence is invalid (overlong forms, surrogates, code points above U+10FFFF, cut short).
struct Sequence {
    qsizetype length = 0;
    char32_t code = 0;
};

Sequence sequenceAt(const unsigned char *data, qsizetype available)
{
    const unsigned char lead = data[0];
    if (lead < 0x80)
        return { 1, lead };
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
        return {};
    }
    if (available < length)
        return {};
    for (qsizetype i = 1; i < length; ++i) {
        if ((data[i] & 0xC0) != 0x80)
            return {};
        code = (code << 6) | (data[i] & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return {};
    return { length, code };
}

bool isEscape(char16_t unit)
{
    return unit >= kFirstEscape && unit <= kLastEscape;
}

void appendUtf8(QByteArray &bytes, char32_t code)
{
    if (code < 0x80) {
        bytes += char(code);
    } else if (code < 0x800) {
        bytes += char(0xC0 | (code >> 6));
        bytes += char(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        bytes += char(0xE0 | (code >> 12));
        bytes += char(0x80 | ((code >> 6) & 0x3F));
        bytes += char(0x80 | (code & 0x3F));
    } else {
        bytes += char(0xF0 | (code >> 18));
        bytes += char(0x80 | ((code >> 12) & 0x3F));
        bytes += char(0x80 | ((code >> 6) & 0x3F));
        bytes += char(0x80 | (code & 0x3F));
    }
}

} // namespace

QString FileNameCodec::decode(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    QString name;
    name.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const Sequence sequence = sequenceAt(data + i, bytes.size() - i);
        if (sequence.length == 0) {
            // Only bytes from 0x80 up can be part of an invalid sequence.
            name += QChar(char16_t(kEscapeBase + data[i]));
            ++i;
            continue;
        }
        if (sequence.code >= 0x10000) {
            name += QChar(QChar::highSurrogate(sequence.code));
            name += QChar(QChar::lowSurrogate(sequence.code));
        } else {
            name += QChar(char16_t(sequence.code));
        }
        i += sequence.length;
    }
    return name;
}

QByteArray FileNameCodec::encode(const QString &name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    const qsizetype count = name.size();
    for (qsizetype i = 0; i < count; ++i) {
        const char16_t unit = name.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < count && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, name.at(i + 1).unicode()));
            ++i;
        } else if (isEscape(unit)) {
            bytes += char(unit - kEscapeBase);
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(bytes, QChar::ReplacementCharacter);
        } else {
            appendUtf8(bytes, unit);
        }
    }
    return bytes;
}

bool FileNameCodec::hasEscapedBytes(const QString &name)
{
    const qsizetype count = name.size();
    for (qsizetype i = 0; i < count; ++i) {
        const char16_t unit = name.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < count && QChar::isLowSurrogate(name.at(i + 1).unicode()))
            ++i;
        else if (isEscape(unit))
            return true;
    }
    return false;
}

QString FileNameCodec::printable(const QString &name)
{
    if (!hasEscapedBytes(name))
        return name;
    QString text;
    const qsizetype count = name.size();
    for (qsizetype i = 0; i < count; ++i) {
        const char16_t unit = name.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < count && QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            text += name.at(i);
            text += name.at(++i);
        } else if (isEscape(unit)) {
            text += QStringLiteral("\\x")
                + QString::number(unit - kEscapeBase, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        } else {
            text += name.at(i);
        }
    }
    return text;
}

} // namespace platform
