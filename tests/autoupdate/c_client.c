/* A client of the update library written in C: it compiles as C and links only the library,
 * which shows the interface carries no C++. It creates an updater in a private configuration
 * folder, reads and sets properties, finds the update a saved answer holds, and checks a
 * service that is not there. Exit status 0 when every step behaved. */
#define _POSIX_C_SOURCE 200809L

#include "CorvaneAutoUpdate.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static int failures = 0;

static void expect(int condition, const char *what)
{
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

static int contains(const char *text, const char *part)
{
    return text && strstr(text, part) != NULL;
}

static void writeFile(const char *path, const char *text)
{
    FILE *file = fopen(path, "w");
    if (!file) {
        perror(path);
        exit(2);
    }
    fputs(text, file);
    fclose(file);
}

static int allocations = 0;
static void *countingAllocate(size_t size)
{
    ++allocations;
    return malloc(size);
}

/* With the properties folder impossible to make (its parent is a file), AUInit fails and no
 * updater can be created. */
static int withoutFolder(const char *home)
{
    char path[512];
    snprintf(path, sizeof path, "%s/file", home);
    writeFile(path, "not a folder");
    setenv("XDG_CONFIG_HOME", path, 1);
    expect(AUInit(NULL) == 1001, "AUInit reports the folder it cannot make");
    AUUpdaterRef updater = NULL;
    char *info = NULL;
    expect(AUUpdaterCreate("CClient", "1.0", "https://127.0.0.1/check", &updater, &info, NULL, NULL) == -1,
        "no updater without the properties folder");
    expect(updater == NULL && info == NULL, "a failed creation hands out nothing");
    return failures == 0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    char home[] = "/tmp/autoupdate-c-XXXXXX";
    char path[512];
    if (!mkdtemp(home))
        return 2;
    if (argc > 1 && strcmp(argv[1], "--without-folder") == 0)
        return withoutFolder(home);
    snprintf(path, sizeof path, "%s/config", home);
    setenv("XDG_CONFIG_HOME", path, 1);
    mkdir(path, 0700);

    AUAllocator allocator = { countingAllocate, free };
    expect(AUInit(&allocator) == 0, "AUInit succeeds");
    expect(AUInit(NULL) == 0, "AUInit again is no error");

    /* The answer an earlier check left behind. */
    snprintf(path, sizeof path, "%s/config/corvane/AutoUpdate/CClient", home);
    mkdir(path, 0700);
    snprintf(path, sizeof path, "%s/config/corvane/AutoUpdate/CClient/Updates.plist", home);
    writeFile(path,
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>Upgrade</key><array>"
        "<dict><key>OS</key><string>Linux</string><key>product</key><string>cclient</string>"
        "<key>old-Version</key><string>1.0</string><key>new-Version</key><string>1.3</string>"
        "<key>SWURL</key><string>https://example.invalid/Update.tar.xz</string>"
        "<key>UpdateType</key><string>Download</string></dict></array></dict></plist>\n");

    AUUpdaterRef updater = NULL;
    char *info = NULL;
    AUCallbacks callbacks = { 0, NULL };
    expect(AUUpdaterCreate("CClient", "1.2.0", "http://127.0.0.1:1/check", &updater, &info, NULL, &callbacks) == 0,
        "AUUpdaterCreate succeeds");
    if (!updater)
        return 1;
    expect(contains(info, "<string>1.3</string>"), "the saved answer's upgrade is offered at creation");
    AUFree(info);

    char *properties = AUCreatePropertiesDictionary(updater);
    expect(contains(properties, "<key>ModuleName</key>") && contains(properties, "<string>CClient</string>"),
        "the properties name the module");
    AUFree(properties);

    AUSetProperty(updater, kAUUpdateCheckInterval, "<plist version=\"1.0\"><integer>0</integer></plist>");
    char *interval = AUQueryProperty(updater, kAUUpdateCheckInterval);
    expect(contains(interval, "<integer>0</integer>"), "the check interval is settable");
    AUFree(interval);
    expect(AUQueryProperty(updater, "NoSuchProperty") == NULL, "unknown properties have no value");

    /* Nothing listens on port 1: the check fails and is still recorded. */
    char *update = (char *)1;
    expect(AUCheckForUpdateSync(updater, &update) == -1, "a check without a service fails");
    expect(update == NULL, "a failed check offers nothing");
    char *last = AUQueryProperty(updater, kAULastCheckTimestamp);
    expect(contains(last, "<date>"), "the failed check is recorded");
    AUFree(last);

    AUUpdaterRef again = AUUpdaterRetain(updater);
    expect(again == updater, "retain answers the updater");
    AUUpdaterRelease(again);
    AUUpdaterRelease(updater);

    /* A remote service reached without TLS is refused. */
    updater = NULL;
    expect(AUUpdaterCreate("CClient", "1.2.0", "http://updates.example.com/check", &updater, &info, NULL, NULL) == -1,
        "a plain-HTTP remote service is refused");
    expect(allocations > 0, "returned strings come from the client's allocator");
    return failures == 0 ? 0 : 1;
}
