#include "agent/log/PMStandardDefaults.h"

#include "platform/PlatformPaths.h"

platform::PreferenceStore &PMStandardDefaults::sharedInstance()
{
    static platform::PreferenceStore *store = [] {
        auto *created = new platform::PreferenceStore(platform::PlatformPaths::standardDefaultsPath());
        created->registerDefaults({ { kDebugKey, false } });
        return created;
    }();
    return *store;
}
