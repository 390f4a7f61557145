// Where the control protocol lives on the session bus: the agent's well-known name, its
// object and interfaces, the notification signal, and the error names of the transport.
//
// Constants only; any thread.
#pragma once

#include <QString>

namespace protocol {

inline const QString kPMServiceName = QStringLiteral("com.corvane.pellmere");
inline const QString kPMObjectPath = QStringLiteral("/com/corvane/pellmere");
inline const QString kPMControlInterface = QStringLiteral("com.corvane.pellmere.Control");
inline const QString kPMNotificationsPath = QStringLiteral("/com/corvane/pellmere/notifications");
inline const QString kPMNotificationsInterface = QStringLiteral("com.corvane.pellmere.Notifications");
inline const QString kPMPostedSignal = QStringLiteral("Posted");

// Answered instead of a reply when the bytes of HandleEvent are not a flattened event.
inline const QString kPMBadEventError = QStringLiteral("com.corvane.pellmere.Error.BadEvent");

} // namespace protocol
