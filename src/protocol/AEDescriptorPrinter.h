// The printed form of a descriptor for log lines, in the style of the platform's event
// printer: 'long'(-50), 'utf8'("text"), 'furl'("file:///media/alice/Backup"), 'true',
// [item, item], { 'kywd':value }, 'obj '{ ... } and 'mdSY'\'QURY'{ '----':..., &'addr':... }
// (attributes marked with &). Long data print as hexadecimal cut at 64 bytes.
//
// Pure function; any thread.
#pragma once

#include <QString>

namespace protocol {

class AEDescriptor;

class AEDescriptorPrinter {
public:
    static QString print(const AEDescriptor &descriptor);
};

} // namespace protocol
