// The home a screenshot tool draws in: windows keep their frames and the manager its launch
// entries in the user's folders, so a tool points HOME and the XDG folders at a fresh home of
// its own before it makes its QApplication.
//
//   QTemporaryDir scratch;
//   const QString home = ScreenshotHome::use(scratch);   // "<scratch>/home/ada", or empty
//
// Call from main() before any Qt object reads the environment.
#pragma once

#include <QString>
#include <QTemporaryDir>

class ScreenshotHome {
public:
    // The home made inside scratch, or an empty string when scratch or the home cannot be made.
    static QString use(const QTemporaryDir &scratch);
};
