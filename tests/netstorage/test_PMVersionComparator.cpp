#include "netstorage/PMVersionComparator.h"

#include <gtest/gtest.h>

namespace {

int compare(const char *a, const char *b)
{
    return PMVersionComparator::compareVersion(QString::fromUtf8(a), QString::fromUtf8(b));
}

TEST(PMVersionComparator, SplitsAtEveryTypeChangeAndAfterEveryDot)
{
    using V = PMVersionComparator;
    EXPECT_EQ(V::splitVersionString(QStringLiteral("10.6b3")), (QStringList { "10", ".", "6", "b", "3" }));
    EXPECT_EQ(V::splitVersionString(QStringLiteral("1..2")), (QStringList { "1", ".", ".", "2" }));
    EXPECT_EQ(
        V::splitVersionString(QStringLiteral("2.0.0.055")), (QStringList { "2", ".", "0", ".", "0", ".", "055" }));
    EXPECT_EQ(V::splitVersionString(QStringLiteral("beta12")), (QStringList { "beta", "12" }));
    EXPECT_TRUE(V::splitVersionString(QString()).isEmpty());
}

TEST(PMVersionComparator, TypesCharactersByTheirFirstCharacter)
{
    using V = PMVersionComparator;
    EXPECT_EQ(V::typeOfCharacter(QStringLiteral(".")), V::Separator);
    EXPECT_EQ(V::typeOfCharacter(QStringLiteral("7")), V::Number);
    EXPECT_EQ(V::typeOfCharacter(QStringLiteral("b2")), V::Text);
    // Digits of other scripts are numbers too (ARABIC-INDIC DIGIT THREE).
    EXPECT_EQ(V::typeOfCharacter(QString(QChar(0x0663))), V::Number);
}

TEST(PMVersionComparator, ComparesNumbersByValueTextBeforeAnythingAndExtrasByTheirType)
{
    EXPECT_EQ(compare("2.0.0.055", "2.0.0.55"), 0);
    EXPECT_EQ(compare("2.0.0.55", "2.0.0.055"), 0);
    EXPECT_EQ(compare("1.2", "1.10"), -1);
    EXPECT_EQ(compare("1.10", "1.2"), 1);
    EXPECT_EQ(compare("1.0", "1.0.1"), -1);
    EXPECT_EQ(compare("1.0.1", "1.0"), 1);
    EXPECT_EQ(compare("1.0", "1.0b"), 1);
    EXPECT_EQ(compare("1.0b", "1.0"), -1);
    EXPECT_EQ(compare("1.a", "1.1"), -1);
    EXPECT_EQ(compare("1.1", "1.a"), 1);
    EXPECT_EQ(compare("", ""), 0);
    EXPECT_EQ(compare("", "1"), -1);
}

TEST(PMVersionComparator, OrdersTextLiterallyAndSeparatorsBelowNumbers)
{
    EXPECT_EQ(compare("1.0a", "1.0b"), -1);
    EXPECT_EQ(compare("1.0B", "1.0a"), -1); // case-sensitive: "B" sorts before "a"
    EXPECT_EQ(compare("1.0b2", "1.0b10"), -1);
    // "1..2" against "1.2": the second component is a separator against a number.
    EXPECT_EQ(compare("1..2", "1.2"), -1);
    EXPECT_EQ(compare("1.2", "1..2"), 1);
    // Numbers longer than any integer still compare by value.
    EXPECT_EQ(compare("1.99999999999999999999999", "1.100000000000000000000000"), -1);
}

TEST(PMVersionComparator, AcceptsOnlyTheExactMinimumFirmwareAroundIt)
{
    EXPECT_EQ(compare("2.0.0.055", "2.0.0.056"), -1);
    EXPECT_EQ(compare("2.0.0.055", "2.0.0.054"), 1);
    EXPECT_EQ(compare("2.0.0.055", "2.0.0.055b"), 1);
}

} // namespace
