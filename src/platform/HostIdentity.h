// Facts that identify this computer and its user: the primary network hardware address,
// the host name, the name the user gave the computer, and the user's name and id.
//
//   auto identity = platform::HostIdentity::create();
//   QString mac = platform::HostIdentity::formatMacAddress(identity->primaryMacAddress(), false);
//
// Implementations are immutable after construction and safe to call from any thread.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace platform {

class HostIdentity {
public:
    virtual ~HostIdentity() = default;

    // The six bytes of the primary interface's hardware address, or empty when it cannot be read.
    virtual QByteArray primaryMacAddress() const = 0;
    // The host name; "Macintosh" when it cannot be read (the name other computers expect).
    virtual QString hostName() const = 0;
    // The name the user gave the computer, else the host name.
    virtual QString machineName() const = 0;
    virtual QString userShortName() const = 0;
    virtual uint userId() const = 0;

    // "%02hX" per byte, joined by ":" when asked. An address that is not six bytes long gives
    // an empty string.
    static QString formatMacAddress(const QByteArray &address, bool withColons);

    // The implementation for this system.
    static std::unique_ptr<HostIdentity> create();
};

} // namespace platform
