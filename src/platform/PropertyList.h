// Conversion between property lists (XML 1.0 and binary) and Qt's QVariant model.
//
// This is the only place that talks to libplist. Every property list the system reads
// or writes (drive configuration, preferences, status dictionaries) goes through it.
//
// Model: dictionary = QVariantMap, array = QVariantList, string = QString,
// boolean = bool, integer = qint64 (any signed or unsigned Qt integer type is accepted
// when writing), real = double, date = QDateTime in UTC, data = QByteArray.
//
// Failures are return values with a readable text, never exceptions or crashes; input
// is untrusted (it may come from another computer's drive), so size and nesting depth
// are bounded before libplist sees it.
//
//   QString error;
//   auto root = platform::PropertyList::readFile(path, &error);
//   if (!root) qCWarning(lc) << error;
//
// Thread-safe: all functions are reentrant.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <optional>

namespace platform {

enum class PlistFormat { Xml, Binary };

class PropertyList {
public:
    // Inputs larger than this are refused unread (no property list of ours comes near).
    static constexpr qint64 kDefaultMaxBytes = qint64(64) * 1024 * 1024;
    // Deeper nesting than this is refused; no legitimate file comes near it.
    static constexpr int kMaxDepth = 256;

    // Parses XML or binary property-list bytes. Returns nullopt and sets *error on failure.
    [[nodiscard]] static std::optional<QVariant> parse(const QByteArray &bytes, QString *error = nullptr);

    // Serializes a value of the model. Returns an empty array and sets *error when the value
    // holds a type the format cannot store (a null QVariant, an unsigned value above the signed
    // 64-bit range, a date out of the format's range, a nesting deeper than kMaxDepth).
    [[nodiscard]] static QByteArray serialize(const QVariant &root, PlistFormat format, QString *error = nullptr);

    // Reads and parses a file. A missing, unreadable, oversized or corrupt file answers nullopt
    // with the reason in *error.
    [[nodiscard]] static std::optional<QVariant> readFile(
        const QString &path, QString *error = nullptr, qint64 maxBytes = kDefaultMaxBytes);

    // Serializes and writes atomically: the old file stays intact unless the new one was
    // written completely and renamed over it.
    [[nodiscard]] static bool writeFile(
        const QString &path, const QVariant &root, PlistFormat format = PlistFormat::Xml, QString *error = nullptr);
};

} // namespace platform
