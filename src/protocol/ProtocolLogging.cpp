#include "protocol/ProtocolLogging.h"

namespace protocol {
Q_LOGGING_CATEGORY(lcProtocol, "pellmere.protocol")
}
