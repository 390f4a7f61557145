#include "platform/FileNameCodec.h"

#include <QList>

#include <gtest/gtest.h>

using platform::FileNameCodec;

namespace {

QByteArray bytes(const char *text)
{
    return QByteArray(text);
}

QString units(std::initializer_list<char16_t> list)
{
    QString text;
    for (char16_t unit : list)
        text += QChar(unit);
    return text;
}

} // namespace

TEST(FileNameCodec, ValidUtf8IsOrdinaryText)
{
    const QByteArray name = bytes("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5.mp3");
    EXPECT_EQ(FileNameCodec::decode(name), QString::fromUtf8(name));
    EXPECT_EQ(FileNameCodec::encode(QString::fromUtf8(name)), name);
    EXPECT_FALSE(FileNameCodec::hasEscapedBytes(FileNameCodec::decode(name)));
    EXPECT_EQ(FileNameCodec::printable(QStringLiteral("a\\xE9/b")), QStringLiteral("a\\xE9/b"));
}

TEST(FileNameCodec, EveryInvalidByteSurvivesTheRoundTrip)
{
    const QList<QByteArray> names = {
        bytes("caf\xE9.txt"), // Latin-1
        bytes("d\xFF"),
        bytes("\xC0\xAF"), // overlong slash
        bytes("\xED\xA0\x80x"), // an encoded surrogate
        bytes("\xED\xB3\xA9"), // the encoded form of an escape itself
        bytes("\xF4\x90\x80\x80"), // past U+10FFFF
        bytes("end\xE2\x82"), // cut short at the end
        bytes("\xE2\x82 mid"), // cut short in the middle
        bytes("\x80\xBF\xFE"), // lone continuation bytes
        bytes("\xF0\x9F\x8E\xB5\xE9\xC3\xA9"), // valid, invalid, valid
    };
    for (const QByteArray &name : names) {
        const QString text = FileNameCodec::decode(name);
        EXPECT_TRUE(FileNameCodec::hasEscapedBytes(text)) << name.toHex().constData();
        EXPECT_EQ(FileNameCodec::encode(text), name) << name.toHex().constData();
    }
}

TEST(FileNameCodec, EscapesOnlyTheInvalidBytesAndPrintsThem)
{
    const QString text = FileNameCodec::decode(bytes("caf\xE9/\xC3\xA9t\xE2\x82"));
    EXPECT_EQ(text, QStringLiteral("caf") + QChar(0xDCE9) + QStringLiteral("/\u00E9t") + QChar(0xDCE2) + QChar(0xDC82));
    EXPECT_EQ(FileNameCodec::printable(text), QStringLiteral("caf\\xE9/\u00E9t\\xE2\\x82"));
    // A surrogate encoded in the bytes is three invalid bytes, not a character.
    EXPECT_EQ(FileNameCodec::decode(bytes("\xED\xA0\x80")), units({ 0xDCED, 0xDCA0, 0xDC80 }));
}

TEST(FileNameCodec, TextThatNoNameDecodesToStillEncodes)
{
    // A lone high surrogate, or a low one outside the escape range, is not a byte of a name.
    EXPECT_EQ(FileNameCodec::encode(QString(QChar(0xD800)) + QLatin1Char('a')),
        bytes("\xEF\xBF\xBD"
              "a"));
    EXPECT_EQ(FileNameCodec::encode(QString(QChar(0xDC41))), bytes("\xEF\xBF\xBD"));
    EXPECT_FALSE(FileNameCodec::hasEscapedBytes(QString(QChar(0xDC41))));
    // A pair whose low half lies in the escape range is one character, not an escape.
    const QString pair = units({ 0xD83C, 0xDFB5 });
    EXPECT_FALSE(FileNameCodec::hasEscapedBytes(pair));
    EXPECT_EQ(FileNameCodec::encode(pair), bytes("\xF0\x9F\x8E\xB5"));
    const QString escapePair = units({ 0xD800, 0xDC80 });
    EXPECT_FALSE(FileNameCodec::hasEscapedBytes(escapePair));
    EXPECT_EQ(FileNameCodec::encode(escapePair), bytes("\xF0\x90\x82\x80"));
}
