// Typed access to property-list dictionaries written by other computers or older versions,
// and small questions about paths, volumes and this computer.
//
// A getter answers a null value when the key is absent or holds another type, so a file
// another computer wrote can never make us misread a value:
//
//   const QVariantMap users = PMCorvaneUtilities::dictionaryForKey(config, "users");
//   if (PMCorvaneUtilities::boolForKey(users, "participate")) ...
//
// All functions are reentrant.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace PMCorvaneUtilities {

// Array, data, date, number, string, dictionary: the value when it has that type, else null
// (an empty list, a null byte array, an invalid date, an invalid QVariant, a null string,
// std::nullopt for a dictionary so "absent" and "empty" stay apart).
std::optional<QVariantList> arrayForKey(const QVariantMap &map, const QString &key);
QByteArray dataForKey(const QVariantMap &map, const QString &key);
QDateTime dateForKey(const QVariantMap &map, const QString &key);
QVariant numberForKey(const QVariantMap &map, const QString &key);
QString stringForKey(const QVariantMap &map, const QString &key);
std::optional<QVariantMap> dictionaryForKey(const QVariantMap &map, const QString &key);

// The value's boolean meaning: a number is true when non-zero; a string is true when it
// starts (after white space, signs and zeros) with Y, y, T, t or a digit 1-9. Absent: false.
bool boolForKey(const QVariantMap &map, const QString &key);
void setBool(QVariantMap &map, const QString &key, bool value);

// Whether a variant holds a property-list number (integer of any width, or real; not bool).
bool isNumber(const QVariant &value);

// The block device name of the volume mounted at mountPoint ("sdb1"); null when the path
// cannot be examined or the volume does not come from a block device node.
QString stringWithDevNodeFromMountPoint(const QString &mountPoint);
// The canonical absolute path with every link, "." and ".." resolved; null when it cannot be.
QString stringWithRealPath(const QString &path);
// Whether path is a folder the desktop presents as one document (by its suffix).
bool isPackagePath(const QString &path);
// The primary hardware address as text ("0A:1B:..." or "0A1B..."); null when none.
QString stringWithPrimaryMACAddressWithColons(bool withColons);
QString stringWithHostname();
QString stringWithMachineName();

} // namespace PMCorvaneUtilities
