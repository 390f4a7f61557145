// The product page in the user's language and download paths as shown.
#include "manager/update/LUMUpdateStrings.h"

#include <gtest/gtest.h>

namespace {

QString pageFor(std::initializer_list<std::pair<const char *, const char *>> variables)
{
    QProcessEnvironment environment;
    for (const auto &[name, value] : variables)
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return LUMUpdateStrings::replaceLang(QStringLiteral("https://corvane.example/$LANG/pellmere?l=$LANG"), environment);
}

} // namespace

TEST(LUMUpdateStrings, ReplaceLangMapsTheUsersFirstLanguage)
{
    EXPECT_EQ(pageFor({ { "LANG", "fr_FR.UTF-8" } }), QStringLiteral("https://corvane.example/fr-fr/pellmere?l=fr-fr"));
    EXPECT_EQ(pageFor({ { "LANG", "DE" } }), QStringLiteral("https://corvane.example/DE-DE/pellmere?l=DE-DE"));
    EXPECT_EQ(pageFor({ { "LANG", "it_IT@euro" } }), QStringLiteral("https://corvane.example/it-it/pellmere?l=it-it"));
    EXPECT_EQ(pageFor({ { "LANG", "es_MX.UTF-8" } }), QStringLiteral("https://corvane.example/es-es/pellmere?l=es-es"));
    EXPECT_EQ(pageFor({ { "LANG", "zh_TW.UTF-8" } }), QStringLiteral("https://corvane.example/zh-tw/pellmere?l=zh-tw"));
    EXPECT_EQ(pageFor({ { "LANGUAGE", "zh-Hant" } }), QStringLiteral("https://corvane.example/zh-tw/pellmere?l=zh-tw"));
    EXPECT_EQ(pageFor({ { "LANG", "zh_CN.UTF-8" } }), QStringLiteral("https://corvane.example/zh-cn/pellmere?l=zh-cn"));
    EXPECT_EQ(pageFor({ { "LANG", "ja_JP.UTF-8" } }), QStringLiteral("https://corvane.example/en-us/pellmere?l=en-us"));
    EXPECT_EQ(pageFor({ { "LANG", "en_GB.UTF-8" } }), QStringLiteral("https://corvane.example/en-us/pellmere?l=en-us"));
}

TEST(LUMUpdateStrings, ReplaceLangTakesTheVariablesInLocaleOrder)
{
    EXPECT_EQ(pageFor({ { "LANGUAGE", "de:fr" }, { "LC_ALL", "it_IT" }, { "LANG", "es_ES" } }),
        QStringLiteral("https://corvane.example/de-de/pellmere?l=de-de"));
    EXPECT_EQ(pageFor({ { "LC_ALL", "it_IT" }, { "LC_MESSAGES", "fr_FR" }, { "LANG", "es_ES" } }),
        QStringLiteral("https://corvane.example/it-it/pellmere?l=it-it"));
    EXPECT_EQ(pageFor({ { "LC_MESSAGES", "fr_FR" }, { "LANG", "es_ES" } }),
        QStringLiteral("https://corvane.example/fr-fr/pellmere?l=fr-fr"));
    // No language at all: the text as it was.
    EXPECT_EQ(pageFor({}), QStringLiteral("https://corvane.example/$LANG/pellmere?l=$LANG"));
    EXPECT_EQ(pageFor({ { "LANG", "C.UTF-8" } }), QStringLiteral("https://corvane.example/$LANG/pellmere?l=$LANG"));
}

TEST(LUMUpdateStrings, LocalizedPathNamesEachComponent)
{
    EXPECT_EQ(LUMUpdateStrings::localizedPath(QStringLiteral("/home/ann/Desktop/Update.tar.xz")),
        QStringLiteral("/home/ann/Desktop/Update.tar.xz"));
    EXPECT_EQ(LUMUpdateStrings::localizedPath(QStringLiteral("//home/./ann//Update-2.tar.xz")),
        QStringLiteral("/home/ann/Update-2.tar.xz"));
    EXPECT_EQ(LUMUpdateStrings::localizedPath(QStringLiteral("/")), QStringLiteral("/"));
}
