// Four-character codes: the 32-bit identifiers of event classes, event ids, keywords and
// descriptor types. A code is the big-endian value of its four characters, so 'mdSY' is
// 0x6D645359.
//
//   constexpr protocol::FourCharCode kClass = protocol::fourCharCode("mdSY");
//   protocol::fourCharCodeToString(kClass) == "mdSY"
//
// Pure functions; any thread.
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace protocol {

using FourCharCode = quint32;
using DescType = FourCharCode;
using AEKeyword = FourCharCode;
using AEEventClass = FourCharCode;
using AEEventID = FourCharCode;

// From a four-character literal; the literal must hold exactly four characters.
consteval FourCharCode fourCharCode(const char (&code)[5])
{
    return (FourCharCode(quint8(code[0])) << 24) | (FourCharCode(quint8(code[1])) << 16)
        | (FourCharCode(quint8(code[2])) << 8) | FourCharCode(quint8(code[3]));
}

// The four characters when all are printable ASCII, otherwise "0x" and eight hex digits,
// so a code read from untrusted bytes always prints as something readable.
QString fourCharCodeToString(FourCharCode code);

// The inverse of fourCharCodeToString: four printable ASCII characters, or "0x" with one to
// eight hex digits. Anything else answers nothing.
std::optional<FourCharCode> fourCharCodeFromString(const QString &text);

} // namespace protocol
