// Compares dotted version texts as the devices' firmware writes them: "2.0.0.055", "10.6b3".
// A version is split into runs of digits, runs of other text and single dots; numbers compare
// by value (055 equals 55), text by its literal order, and text counts as older than anything
// else (so 1.0b comes before 1.0, while 1.0.1 comes after 1.0).
//
//   PMVersionComparator::compareVersion("2.0.0.055", firmware) == 0 // exactly that version
//
// Pure and reentrant.
#pragma once

#include <QString>
#include <QStringList>

class PMVersionComparator {
public:
    enum CharacterType { Number = 0, Text = 1, Separator = 2 };

    // The type of the first character of text (a component's type); Text for an empty text.
    static CharacterType typeOfCharacter(const QString &text);
    // The components: a new one starts when the character type changes or after a dot, so
    // "10.6b3" gives 10 . 6 b 3 and ".." gives two components. An empty text gives none.
    static QStringList splitVersionString(const QString &version);
    // -1 when a is older than b, 0 when they are equal, 1 when a is newer.
    static int compareVersion(const QString &a, const QString &b);
};
