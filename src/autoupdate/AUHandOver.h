// Hands the install over to the new copy unpacked from a release archive: the top-level
// folder named like the running program's install folder holds it; its executable is started
// as [executable, "installOver", install folder] (an argument vector, never a shell line) and
// replaces the install folder with its own tree.
#pragma once

#include <QString>

class AUHandOver {
public:
    // The executable of the new copy below unpackedFolder, or empty when the archive holds
    // none: no real folder of that name at its top level, or no executable file inside.
    static QString findNewExecutable(
        const QString &unpackedFolder, const QString &installFolder, const QString &relativeExecutable);
    // Starts it detached; false when it cannot be started.
    static bool start(const QString &newExecutable, const QString &installFolder);
};
