// The two string operations of the update window: the product page in the user's language,
// and a download path as the user reads it.
#pragma once

#include <QProcessEnvironment>
#include <QString>

class LUMUpdateStrings {
public:
    // text with every "$LANG" replaced by a language tag from the first language the user's
    // locale names (LANGUAGE's first entry, else LC_ALL, LC_MESSAGES, LANG): fr, it, de and es
    // give the language twice ("de-de", as written: "DE" gives "DE-DE"); Traditional Chinese
    // (zh_TW, zh_HK, zh_MO, zh-Hant) "zh-tw"; other Chinese "zh-cn"; anything else "en-us".
    // Without a language (none set, "C" or "POSIX") the text is returned unchanged.
    static QString replaceLang(const QString &text, const QProcessEnvironment &environment);
    // "/" and the names of the path's components, each as the file system names it
    // (the display name), without "." steps or doubled separators.
    static QString localizedPath(const QString &path);

private:
    static QString userLanguage(const QProcessEnvironment &environment);
};
