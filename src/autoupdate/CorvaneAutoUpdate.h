/* Corvane AutoUpdate: asks an update service whether a newer version of an application
 * exists, and downloads, unpacks and hands over to it. A plain C interface; the library
 * runs its network work on the Qt event loop of the thread that created the updater (a
 * program without Qt gets one made by AUInit and lets it run with AURunEventLoop).
 *
 * Dictionaries and values cross this interface as XML property lists (UTF-8, NUL-terminated):
 * strings the library returns are owned by the caller and freed with AUFree; strings the
 * caller passes are only read during the call. docs/AUTOUPDATE.md describes the keys, the
 * files the library keeps and the update service's answer.
 *
 *   AUInit(NULL);
 *   AUUpdaterRef u; char *info = NULL;
 *   AUCallbacks cb = { 0, onDownload };
 *   if (AUUpdaterCreate("Pellmere", "1.2.0", "https://updates.example/check", &u, &info, ctx, &cb) == 0) {
 *       ... AUCheckForUpdateSync(u, &info) ...
 *       AUFree(info);
 *       AUUpdaterRelease(u);
 *   }
 */
#ifndef CORVANE_AUTOUPDATE_H
#define CORVANE_AUTOUPDATE_H

#include <stddef.h>
#include <stdint.h>

#if defined(CORVANE_AUTOUPDATE_BUILDING)
#define AU_EXPORT __attribute__((visibility("default")))
#else
#define AU_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct AUUpdater *AUUpdaterRef;

/* Memory for the strings handed to the caller; NULL in AUInit means malloc and free. */
typedef struct AUAllocator {
    void *(*allocate)(size_t size);
    void (*deallocate)(void *pointer);
} AUAllocator;

/* Download notification types. */
enum {
    kAUDownloadWillStart = 0,
    kAUDownloadInProgress = 1,
    kAUDownloadComplete = 2, /* unpacking the archive follows */
    kAUDownloadOpening = 3, /* the archive is being unpacked */
    kAUDownloadHandedOver = 4, /* the new copy was started, or no new copy was found */
    kAUDownloadFailed = 5
};

/* Download error codes. */
enum {
    kAUDownloadErrorNone = 0,
    kAUDownloadErrorTransfer = 1, /* the transfer failed, was too large or did not match its SHA256 */
    kAUDownloadErrorOpen = 3 /* the archive could not be unpacked safely */
};

/* Called on the updater's event loop. updateInfo is the entry being installed (XML property
 * list), downloadPath the file being written; both only valid during the call. expectedSize
 * is -1 while the server has not said. */
typedef void (*AUDownloadNotification)(AUUpdaterRef updater, int type, const char *updateInfo, const char *downloadPath,
    int32_t expectedSize, int32_t bytesReceived, int32_t downloadError, void *clientContext);

typedef struct AUCallbacks {
    uint32_t version; /* 0 */
    AUDownloadNotification downloadNotification;
} AUCallbacks;

/* Property names. */
AU_EXPORT extern const char *const kAUModuleName;
AU_EXPORT extern const char *const kAUModuleVersion;
AU_EXPORT extern const char *const kAUModuleXMLURL;
AU_EXPORT extern const char *const kAUUpdateCheckInterval;
AU_EXPORT extern const char *const kAULastCheckTimestamp;
AU_EXPORT extern const char *const kAUNextCheckTimestamp;
AU_EXPORT extern const char *const kAULastErrorMessage;

/* Keys of an update-info dictionary. */
AU_EXPORT extern const char *const kAUUpdateInfoOldVersion;
AU_EXPORT extern const char *const kAUUpdateInfoNewVersion;
AU_EXPORT extern const char *const kAUUpdateInfoProduct;
AU_EXPORT extern const char *const kAUUpdateInfoPlatform;
AU_EXPORT extern const char *const kAUUpdateInfoDate;
AU_EXPORT extern const char *const kAUUpdateInfoDmgURL;
AU_EXPORT extern const char *const kAUUpdateInfoUpdateType;
AU_EXPORT extern const char *const kAUUpdateInfoSHA256;
AU_EXPORT extern const char *const kAUUpdateTypeURL;
AU_EXPORT extern const char *const kAUUpdateTypeDownload;

/* Once per process: 0 on success or when already done, 1001 when the properties folder
 * cannot be made (every later AUUpdaterCreate then fails). */
AU_EXPORT int AUInit(const AUAllocator *allocator);

/* 0 with *updater set (and *updateInfo set to the pending update found by an earlier check,
 * or NULL); -1 before a successful AUInit, or when the service URL is neither HTTPS nor a
 * loopback address. */
AU_EXPORT int AUUpdaterCreate(const char *moduleName, const char *moduleVersion, const char *moduleXMLURL,
    AUUpdaterRef *updater, char **updateInfo, void *clientContext, const AUCallbacks *callbacks);

AU_EXPORT AUUpdaterRef AUUpdaterRetain(AUUpdaterRef updater);
/* The last release stops the timer, the scheduled check and any download. */
AU_EXPORT void AUUpdaterRelease(AUUpdaterRef updater);

/* Where the running program is installed (the folder its archive's top-level folder
 * replaces) and its executable relative to that folder. Without this call: the folder above
 * the running executable's folder, and "bin/<executable name>". */
AU_EXPORT void AUSetInstallLocation(AUUpdaterRef updater, const char *installFolder, const char *relativeExecutable);

/* Dictionary of the properties that are set; caller frees. */
AU_EXPORT char *AUCreatePropertiesDictionary(AUUpdaterRef updater);
/* The property's value as a property list, or NULL for an unknown or unset name. */
AU_EXPORT char *AUQueryProperty(AUUpdaterRef updater, const char *name);
/* Only kAUUpdateCheckInterval (an integer property list) is settable; always 0. */
AU_EXPORT int AUSetProperty(AUUpdaterRef updater, const char *name, const char *value);

/* Asks the service now, blocking the calling thread (which may be any thread). 0 with
 * *updateInfo the matching upgrade or NULL; -1 on failure. */
AU_EXPORT int AUCheckForUpdateSync(AUUpdaterRef updater, char **updateInfo);

/* 0 when the download of updateInfo's SWURL started, -1 otherwise (also while one runs). */
AU_EXPORT int AUDownloadUpdateAsync(AUUpdaterRef updater, const char *updateInfo);
/* Ends the download and removes the partial file; no further notifications. 0. */
AU_EXPORT int AUAbortDownload(AUUpdaterRef updater);

/* Runs the calling thread's event loop for up to milliseconds, for programs without one. */
AU_EXPORT void AURunEventLoop(int milliseconds);

AU_EXPORT void AUFree(void *pointer);

#ifdef __cplusplus
}
#endif

#endif
