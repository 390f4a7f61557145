// libsmbclient, loaded the first time a device's shares are listed rather than at start.
//
// The library drags in about a hundred Samba libraries; linking it would have every run of
// `pellmere sync` and every agent without network storage devices pay for mapping and
// relocating them (a third of the start-up time and half the memory of a small sync). Only the
// functions the share listing needs are looked up.
//
//   const PMSmbLibrary *smb = PMSmbLibrary::instance(&why);
//   if (smb) SMBCCTX *context = smb->newContext();
//
// The library stays loaded for the life of the process: it keeps process-wide state behind its
// contexts. Any thread; loading happens once.
#pragma once

#include <QString>

#include <libsmbclient.h>

class PMSmbLibrary {
public:
    // The versioned name, as the run-time package installs it (no development link needed).
    static inline const char *const kLibraryName = "libsmbclient.so.0";

    // The loaded library, or null with why it could not be loaded (the same answer every time).
    static const PMSmbLibrary *instance(QString *why);

    decltype(&smbc_new_context) newContext = nullptr;
    decltype(&smbc_init_context) initContext = nullptr;
    decltype(&smbc_free_context) freeContext = nullptr;
    decltype(&smbc_setDebug) setDebug = nullptr;
    decltype(&smbc_setTimeout) setTimeout = nullptr;
    decltype(&smbc_setFunctionAuthDataWithContext) setFunctionAuthDataWithContext = nullptr;
    decltype(&smbc_setOptionUseKerberos) setOptionUseKerberos = nullptr;
    decltype(&smbc_setOptionFallbackAfterKerberos) setOptionFallbackAfterKerberos = nullptr;
    decltype(&smbc_setOptionNoAutoAnonymousLogin) setOptionNoAutoAnonymousLogin = nullptr;
    decltype(&smbc_getFunctionOpendir) getFunctionOpendir = nullptr;
    decltype(&smbc_getFunctionReaddir) getFunctionReaddir = nullptr;
    decltype(&smbc_getFunctionClosedir) getFunctionClosedir = nullptr;

private:
    PMSmbLibrary() = default;
    bool load(QString *why);
};
