// Flattens a descriptor (usually a whole event or reply) to bytes and reads it back; the
// format is described in docs/PROTOCOL.md.
//
//   const auto bytes = AECodec::flatten(event);        // nothing when the event is too big
//   QString why;
//   const auto back = AECodec::unflatten(*bytes, &why); // nothing and a reason on bad bytes
//
// The reader takes untrusted bytes: every length and count is checked against what is left
// before anything is allocated, nesting stops at kMaxDepth, the number of descriptors at
// kMaxDescriptors and the input at kMaxMessageSize, trailing bytes and repeated keywords are
// refused. The writer refuses what the reader would refuse, so a message that leaves one side
// is always readable by the other.
//
// Pure functions; any thread.
#pragma once

#include "protocol/AEDescriptor.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace protocol {

class AECodec {
public:
    static constexpr quint8 kFormatVersion = 1;
    static constexpr int kMaxDepth = 32;
    static constexpr qsizetype kMaxDescriptors = 100000;
    static constexpr qsizetype kMaxMessageSize = 16 * 1024 * 1024;

    [[nodiscard]] static std::optional<QByteArray> flatten(const AEDescriptor &descriptor, QString *error = nullptr);
    [[nodiscard]] static std::optional<AEDescriptor> unflatten(QByteArrayView bytes, QString *error = nullptr);
};

} // namespace protocol
