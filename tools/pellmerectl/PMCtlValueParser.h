// Turns command-line words into the values pellmerectl sends: booleans, 32-bit integers,
// timeouts, and paths made absolute (drives also canonical). Each answers nothing and a
// reason the user can act on when the word does not fit, so nothing is sent on a bad value.
//
//   QString why;
//   const auto on = PMCtlValueParser::parseBool(QStringLiteral("yes"), &why); // true
//   const auto drive = PMCtlValueParser::drivePath(QStringLiteral("."), &why);
//
// Pure functions apart from reading the file system for paths; any thread.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace pmctl {

class PMCtlValueParser {
public:
    // on/off, true/false, yes/no, 1/0, in any letter case.
    static std::optional<bool> parseBool(const QString &word, QString *why);
    // A decimal signed 32-bit integer, nothing else around it.
    static std::optional<qint32> parseInt32(const QString &word, QString *why);
    // Seconds, fractions allowed, more than 0 and at most one day.
    static std::optional<std::chrono::milliseconds> parseTimeout(const QString &word, QString *why);
    // The drive's mount path: absolute, symbolic links resolved; the folder must exist.
    static std::optional<QString> drivePath(const QString &word, QString *why);
    // A sync-list entry: absolute and cleaned ("." and ".." removed); need not exist.
    static std::optional<QString> itemPath(const QString &word, QString *why);
};

} // namespace pmctl
