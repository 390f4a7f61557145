// The object every copy, move and folder creation of PMFileManager reports to (in the agent:
// the copy error reporter). It names the progress owner through delegate(), answers the
// "should I go on after this error?" questions and, as a PMFileCopyAgentDelegate, watches the
// data copies.
//
// Every message is optional: a default implementation answers that the handler does not
// respond (false, std::nullopt or nullptr), and the engine then behaves as if the message had
// never been defined. Called on the copying thread only.
//
// Error dictionaries carry "Path" (source), "ToPath" (destination, for copies and moves) and
// "Error" (the error text, e.g. "Is a directory").
#pragma once

#include "agent/copy/PMCopyDelegate.h"
#include "agent/copy/PMFileCopyAgentDelegate.h"

#include <QString>
#include <QVariantMap>

#include <optional>

class PMCopyHandler : public PMFileCopyAgentDelegate {
public:
    static inline const QString kPathKey = QStringLiteral("Path");
    static inline const QString kToPathKey = QStringLiteral("ToPath");
    static inline const QString kErrorKey = QStringLiteral("Error");

    // The progress owner; nullptr when the handler does not respond or has none.
    virtual PMCopyDelegate *delegate() { return nullptr; }

    // The decision after an error; the answer is the failed operation's result.
    virtual std::optional<bool> shouldProceedAfterError(const QVariantMap &errorInfo)
    {
        Q_UNUSED(errorInfo);
        return std::nullopt;
    }

    // The file manager's own failures while copying (links), moving and removing items;
    // errorNumber is the errno of the failed call.
    virtual std::optional<bool> shouldProceedAfterErrorCopyingItem(
        int errorNumber, const QString &source, const QString &destination)
    {
        Q_UNUSED(errorNumber);
        Q_UNUSED(source);
        Q_UNUSED(destination);
        return std::nullopt;
    }
    virtual std::optional<bool> shouldProceedAfterErrorMovingItem(
        int errorNumber, const QString &source, const QString &destination)
    {
        Q_UNUSED(errorNumber);
        Q_UNUSED(source);
        Q_UNUSED(destination);
        return std::nullopt;
    }
    virtual std::optional<bool> shouldProceedAfterErrorRemovingItem(int errorNumber, const QString &path)
    {
        Q_UNUSED(errorNumber);
        Q_UNUSED(path);
        return std::nullopt;
    }
};
