// libFuzzer target for the reader of flattened events: any bytes must be refused or read
// without a crash, a hang or an unbounded allocation (the sanitizers and libFuzzer's own
// memory and time limits watch that). What is read must flatten back to the very same bytes,
// since the format has one spelling per value, and must survive printing and the handler
// frame the agent runs every event through.
#include "protocol/AECodec.h"
#include "protocol/PMEventHandlerTable.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace protocol;

namespace {

PMEventHandlerTable &handlerTable()
{
    static PMEventHandlerTable table = [] {
        PMEventHandlerTable t;
        t.setDebugSink([](const QString &) {});
        t.installHandler(kPMEventClass, kPMSetSyncListID,
            { QStringLiteral("handleSetSyncListEvent"), [](const PMHandlerRequest &request) {
                 const auto items = request.event.paramDescriptorForKeyword(kPMSyncItemsProperty);
                 for (int i = 1; items && i <= items->numberOfItems(); ++i)
                     (void)items->descriptorAtIndex(i)->filePath();
                 return PMHandlerResult::none();
             } });
        return t;
    }();
    return table;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto descriptor = AECodec::unflatten(bytes);
    if (!descriptor)
        return 0;
    const auto again = AECodec::flatten(*descriptor);
    if (!again || QByteArrayView(*again) != bytes)
        std::abort();
    (void)descriptor->description();
    if (descriptor->isAppleEvent()) {
        AEDescriptor reply = AEDescriptor::replyEvent();
        handlerTable().dispatch(*descriptor, reply);
        if (!AECodec::flatten(reply))
            std::abort();
    }
    return 0;
}
