// Names as bytes against names as text: which names can be carried, and how the others are
// shown in the log.
#include "agent/copy/PMFileNameText.h"

#include <gtest/gtest.h>

namespace {

TEST(PMFileNameText, TellsValidUtf8FromEverythingElse)
{
    EXPECT_TRUE(PMFileNameText::isValidUtf8("plain.txt"));
    EXPECT_TRUE(PMFileNameText::isValidUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5.mp3"));
    EXPECT_FALSE(PMFileNameText::isValidUtf8("caf\xE9.txt")) << "Latin-1";
    EXPECT_FALSE(PMFileNameText::isValidUtf8("\xC0\xAF")) << "overlong slash";
    EXPECT_FALSE(PMFileNameText::isValidUtf8("\xED\xA0\x80")) << "a surrogate";
    EXPECT_FALSE(PMFileNameText::isValidUtf8("\xF4\x90\x80\x80")) << "past U+10FFFF";
    EXPECT_FALSE(PMFileNameText::isValidUtf8("end\xE2\x82")) << "cut short";
}

TEST(PMFileNameText, EscapesOnlyTheBytesThatAreNotTextAndKeepsNamesApart)
{
    EXPECT_EQ(PMFileNameText::escaped("caf\xE9.txt"), QStringLiteral("caf\\xE9.txt"));
    EXPECT_EQ(PMFileNameText::escaped("\xC3\xA9t\xE9"), QStringLiteral("\u00E9t\\xE9"));
    // A name that really holds a backslash cannot be mistaken for an escaped one.
    EXPECT_EQ(PMFileNameText::escaped("caf\\xE9.txt"), QStringLiteral("caf\\\\xE9.txt"));
    EXPECT_NE(PMFileNameText::escaped("caf\\xE9.txt"), PMFileNameText::escaped("caf\xE9.txt"));
}

TEST(PMFileNameText, NamesThatDifferOnlyInCaseShareAKey)
{
    EXPECT_EQ(PMFileNameText::caseKey(QStringLiteral("Song.MP3")), PMFileNameText::caseKey(QStringLiteral("song.mp3")));
    EXPECT_EQ(PMFileNameText::caseKey(QStringLiteral("\u00C9T\u00C9")),
        PMFileNameText::caseKey(QStringLiteral("\u00E9t\u00E9")));
    EXPECT_NE(
        PMFileNameText::caseKey(QStringLiteral("song1.mp3")), PMFileNameText::caseKey(QStringLiteral("song2.mp3")));
}

} // namespace
