#include "PMSmbLibrary.h"

#include <QDebug>

#include <dlfcn.h>

namespace {

struct LoadResult {
    const PMSmbLibrary *library = nullptr;
    QString why;
};

template<typename Function> bool resolve(void *handle, const char *name, Function *function, QString *why)
{
    *function = reinterpret_cast<Function>(::dlsym(handle, name));
    if (*function)
        return true;
    *why = QStringLiteral("%1 lacks %2").arg(QLatin1String(PMSmbLibrary::kLibraryName), QLatin1String(name));
    return false;
}

} // namespace

const PMSmbLibrary *PMSmbLibrary::instance(QString *why)
{
    // Function-local static: loaded once, by whichever thread asks first, the others wait.
    static const LoadResult result = [] {
        LoadResult loaded;
        static PMSmbLibrary library;
        if (library.load(&loaded.why))
            loaded.library = &library;
        else
            qWarning().noquote() << "PMSmbLibrary: cannot list network shares:" << loaded.why;
        return loaded;
    }();
    if (!result.library && why)
        *why = result.why;
    return result.library;
}

bool PMSmbLibrary::load(QString *why)
{
    // Never closed: see the header.
    void *handle = ::dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        *why = QString::fromLocal8Bit(::dlerror());
        return false;
    }
    return resolve(handle, "smbc_new_context", &newContext, why)
        && resolve(handle, "smbc_init_context", &initContext, why)
        && resolve(handle, "smbc_free_context", &freeContext, why) && resolve(handle, "smbc_setDebug", &setDebug, why)
        && resolve(handle, "smbc_setTimeout", &setTimeout, why)
        && resolve(handle, "smbc_setFunctionAuthDataWithContext", &setFunctionAuthDataWithContext, why)
        && resolve(handle, "smbc_setOptionUseKerberos", &setOptionUseKerberos, why)
        && resolve(handle, "smbc_setOptionFallbackAfterKerberos", &setOptionFallbackAfterKerberos, why)
        && resolve(handle, "smbc_setOptionNoAutoAnonymousLogin", &setOptionNoAutoAnonymousLogin, why)
        && resolve(handle, "smbc_getFunctionOpendir", &getFunctionOpendir, why)
        && resolve(handle, "smbc_getFunctionReaddir", &getFunctionReaddir, why)
        && resolve(handle, "smbc_getFunctionClosedir", &getFunctionClosedir, why);
}
