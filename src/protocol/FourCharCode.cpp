#include "protocol/FourCharCode.h"

#include <cctype>

namespace protocol {

namespace {

bool isPrintableAscii(uint c)
{
    return c >= 0x20 && c < 0x7F;
}

} // namespace

QString fourCharCodeToString(FourCharCode code)
{
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const uint c = (code >> shift) & 0xFF;
        if (!isPrintableAscii(c))
            return QStringLiteral("0x%1").arg(code, 8, 16, QLatin1Char('0'));
        text.append(QChar(c));
    }
    return text;
}

std::optional<FourCharCode> fourCharCodeFromString(const QString &text)
{
    if (text.size() > 2 && text.size() <= 10 && text.startsWith(QLatin1String("0x"))) {
        for (const QChar c : QStringView(text).mid(2)) {
            if (c.unicode() > 0x7F || !std::isxdigit(c.unicode()))
                return std::nullopt;
        }
        bool ok = false;
        const uint value = text.mid(2).toUInt(&ok, 16);
        if (ok)
            return value;
        return std::nullopt;
    }
    if (text.size() != 4)
        return std::nullopt;
    FourCharCode code = 0;
    for (const QChar c : text) {
        if (!isPrintableAscii(c.unicode()))
            return std::nullopt;
        code = (code << 8) | c.unicode();
    }
    return code;
}

} // namespace protocol
