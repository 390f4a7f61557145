// File names as the file system keeps them (bytes) against names as the engine handles them
// (text). A name that is not valid UTF-8 cannot be carried through text without loss, so the
// walk and the copy engine recognise such names and report them by an escaped form instead of
// failing on a mangled one.
//
//   if (!PMFileNameText::isValidUtf8(bytes)) log(PMFileNameText::escaped(bytes));  // "caf\xE9.txt"
//   if (PMFileNameText::sameIgnoringCase(a, b)) ...  // "Song.mp3" and "song.MP3"
//
// Pure functions; any thread.
#pragma once

#include <QByteArrayView>
#include <QString>

class PMFileNameText {
public:
    static bool isValidUtf8(QByteArrayView name);
    // Valid UTF-8 stays as it is; every byte of an invalid sequence is written as \xHH, and a
    // backslash as \\, so two different names never look alike.
    static QString escaped(QByteArrayView name);
    // The key under which a file system that ignores case files a name.
    static QString caseKey(const QString &name);
};
