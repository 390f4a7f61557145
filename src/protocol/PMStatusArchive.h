// The status dictionary of a drive as it travels in the 'INFO' reply: a binary property list
// in the data of a 'STAT' descriptor, put under the keyword 'STAT'. The agent builds it; the
// manager and pellmerectl read it back.
//
//   reply.setParamDescriptor(*PMStatusArchive::statusDescriptor(status), keyStatus);
//   const auto status = PMStatusArchive::statusFromDescriptor(*reply.paramDescriptorForKeyword(keyStatus));
//
// Dictionary values follow the property-list model of platform::PropertyList (bool, integers,
// double, strings, dates, data, lists and dictionaries). Pure functions; any thread.
#pragma once

#include "protocol/AEDescriptor.h"

#include <QVariantMap>

#include <optional>

namespace protocol {

class PMStatusArchive {
public:
    // Nothing (and a reason) when the dictionary holds a value a property list cannot store.
    [[nodiscard]] static std::optional<AEDescriptor> statusDescriptor(
        const QVariantMap &status, QString *error = nullptr);
    // Nothing for another type, empty data, bytes that are no property list, or a property
    // list whose root is not a dictionary.
    [[nodiscard]] static std::optional<QVariantMap> statusFromDescriptor(
        const AEDescriptor &descriptor, QString *error = nullptr);
};

} // namespace protocol
