#include "platform/PropertyList.h"

#include "support/TestEnvironment.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <limits>

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

using platform::PlistFormat;
using platform::PropertyList;

namespace {

QVariantMap everyType()
{
    QVariantMap nested;
    nested.insert(QStringLiteral("empty-list"), QVariantList());
    nested.insert(QStringLiteral("empty-dict"), QVariantMap());
    return {
        { QStringLiteral("true"), true },
        { QStringLiteral("false"), false },
        { QStringLiteral("int32"), qint32(-2147483647 - 1) },
        { QStringLiteral("int64-max"), std::numeric_limits<qint64>::max() },
        { QStringLiteral("int64-min"), std::numeric_limits<qint64>::min() },
        { QStringLiteral("uint32"), quint32(4294967295U) },
        { QStringLiteral("real"), 3.25 },
        { QStringLiteral("string"), QStringLiteral("Grüße \"<&>\" 日本") },
        { QStringLiteral("empty-string"), QString() },
        { QStringLiteral("date"), QDateTime(QDate(2013, 3, 3), QTime(10, 4, 5), Qt::UTC) },
        { QStringLiteral("data"), QByteArray("\x00\x01\xff binary", 10) },
        { QStringLiteral("list"), QVariantList { 1, QStringLiteral("two"), QVariantList { 3 } } },
        { QStringLiteral("nested"), nested },
    };
}

// Integers come back as qint64 whatever width went in; compare by value.
void expectSameValue(const QVariant &expected, const QVariant &actual, const QString &where)
{
    SCOPED_TRACE(where.toStdString());
    switch (expected.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        ASSERT_EQ(actual.typeId(), QMetaType::LongLong);
        EXPECT_EQ(actual.toLongLong(), expected.toLongLong());
        break;
    case QMetaType::QVariantMap: {
        ASSERT_EQ(actual.typeId(), QMetaType::QVariantMap);
        const QVariantMap e = expected.toMap();
        const QVariantMap a = actual.toMap();
        EXPECT_EQ(a.keys(), e.keys());
        for (auto it = e.cbegin(); it != e.cend(); ++it)
            expectSameValue(it.value(), a.value(it.key()), where + QLatin1Char('/') + it.key());
        break;
    }
    case QMetaType::QVariantList: {
        ASSERT_EQ(actual.typeId(), QMetaType::QVariantList);
        const QVariantList e = expected.toList();
        const QVariantList a = actual.toList();
        ASSERT_EQ(a.size(), e.size());
        for (qsizetype i = 0; i < e.size(); ++i)
            expectSameValue(e.at(i), a.at(i), where + QLatin1Char('[') + QString::number(i) + QLatin1Char(']'));
        break;
    }
    case QMetaType::QString:
        ASSERT_EQ(actual.typeId(), QMetaType::QString);
        EXPECT_EQ(actual.toString(), expected.toString());
        break;
    default:
        EXPECT_EQ(actual.typeId(), expected.typeId());
        EXPECT_EQ(actual, expected);
    }
}

class PropertyListFormats : public ::testing::TestWithParam<PlistFormat> { };

} // namespace

TEST_P(PropertyListFormats, RoundTripsEveryValueType)
{
    const QVariantMap original = everyType();
    QString error;
    const QByteArray bytes = PropertyList::serialize(original, GetParam(), &error);
    ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
    const auto parsed = PropertyList::parse(bytes, &error);
    ASSERT_TRUE(parsed.has_value()) << error.toStdString();
    expectSameValue(original, *parsed, QStringLiteral("root"));
}

TEST_P(PropertyListFormats, DatesComeBackInUtcAtTheFormatsPrecision)
{
    // XML property lists store whole seconds (as other computers write them); binary ones
    // keep fractions.
    const QDateTime local = QDateTime(QDate(2020, 2, 29), QTime(23, 59, 58, 250), QTimeZone(3600));
    const auto parsed
        = PropertyList::parse(PropertyList::serialize(QVariantMap { { QStringLiteral("d"), local } }, GetParam()));
    ASSERT_TRUE(parsed.has_value());
    const QDateTime back = parsed->toMap().value(QStringLiteral("d")).toDateTime();
    EXPECT_EQ(back.timeSpec(), Qt::UTC);
    const qint64 expected
        = GetParam() == PlistFormat::Xml ? local.toSecsSinceEpoch() * 1000 : local.toMSecsSinceEpoch();
    EXPECT_EQ(back.toMSecsSinceEpoch(), expected);
}

INSTANTIATE_TEST_SUITE_P(XmlAndBinary, PropertyListFormats, ::testing::Values(PlistFormat::Xml, PlistFormat::Binary));

TEST(PropertyList, WritesTheStandardXmlHeader)
{
    const QByteArray xml = PropertyList::serialize(QVariantMap { { QStringLiteral("a"), 1 } }, PlistFormat::Xml);
    EXPECT_TRUE(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
    EXPECT_TRUE(xml.contains("<plist version=\"1.0\">"));
    EXPECT_TRUE(xml.contains("<key>a</key>"));
    EXPECT_TRUE(xml.contains("<integer>1</integer>"));
}

TEST(PropertyList, RefusesValuesItCannotStoreWithAReason)
{
    QString error;
    EXPECT_TRUE(PropertyList::serialize(QVariant(), PlistFormat::Xml, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());

    error.clear();
    const QVariant tooBig = QVariant::fromValue(std::numeric_limits<quint64>::max());
    EXPECT_TRUE(
        PropertyList::serialize(QVariantMap { { QStringLiteral("n"), tooBig } }, PlistFormat::Xml, &error).isEmpty());
    EXPECT_TRUE(error.contains(QStringLiteral("64-bit"))) << error.toStdString();

    error.clear();
    const QDateTime ancient(QDate(1904, 1, 1), QTime(0, 0), Qt::UTC);
    EXPECT_TRUE(PropertyList::serialize(QVariantMap { { QStringLiteral("d"), ancient } }, PlistFormat::Binary, &error)
                    .isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST(PropertyList, RejectsCorruptAndHostileInputWithoutCrashing)
{
    const QByteArray valid = PropertyList::serialize(everyType(), PlistFormat::Xml);
    const QByteArray binary = PropertyList::serialize(everyType(), PlistFormat::Binary);
    struct Case {
        const char *name;
        QByteArray bytes;
    };
    QByteArray deepXml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 100000; ++i)
        deepXml += "<array>";
    QByteArray nonUtf8 = valid;
    nonUtf8.replace("Grüße", "Gr\xff\xfe\xc3");
    const QList<Case> cases = {
        { "empty", QByteArray() },
        { "garbage", QByteArray("this is not a property list") },
        { "truncated xml", valid.left(valid.size() / 2) },
        { "truncated binary", binary.left(binary.size() - 12) },
        { "binary header only", QByteArray("bplist00") },
        { "binary with a corrupt trailer", binary.left(binary.size() - 32) + QByteArray(32, '\xff') },
        { "deeply nested xml", deepXml },
        { "unknown element", QByteArray("<plist version=\"1.0\"><frobnicate/></plist>") },
    };
    for (const Case &c : cases) {
        QString error;
        const auto parsed = PropertyList::parse(c.bytes, &error);
        EXPECT_FALSE(parsed.has_value()) << c.name;
        EXPECT_FALSE(error.isEmpty()) << c.name;
    }
    // Invalid UTF-8 inside a string is data from another computer: no crash, whatever it yields.
    QString error;
    (void)PropertyList::parse(nonUtf8, &error);
}

namespace {

void appendBigEndian(QByteArray &bytes, quint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i)
        bytes.append(char((value >> (8 * i)) & 0xff));
}

// A binary property list of `count` one-element arrays, each holding the next; the last
// refers to `lastRef` (an empty array when lastRef < 0).
QByteArray chainOfArrays(int count, int lastRef = -1)
{
    QByteArray bytes("bplist00");
    QList<quint64> offsets;
    for (int i = 0; i < count; ++i) {
        offsets.append(quint64(bytes.size()));
        const bool last = i == count - 1;
        if (last && lastRef < 0) {
            bytes.append(char(0xA0));
        } else {
            bytes.append(char(0xA1));
            appendBigEndian(bytes, last ? quint64(lastRef) : quint64(i + 1), 4);
        }
    }
    const quint64 table = quint64(bytes.size());
    for (quint64 offset : offsets)
        appendBigEndian(bytes, offset, 4);
    bytes.append(QByteArray(6, '\0'));
    bytes.append(char(4));
    bytes.append(char(4));
    appendBigEndian(bytes, quint64(count), 8);
    appendBigEndian(bytes, 0, 8);
    appendBigEndian(bytes, table, 8);
    return bytes;
}

} // namespace

TEST(PropertyList, BinaryNestingIsBoundedAndCyclesAreRefused)
{
    QString error;
    const auto shallow = PropertyList::parse(chainOfArrays(100), &error);
    ASSERT_TRUE(shallow.has_value()) << error.toStdString();
    EXPECT_EQ(shallow->typeId(), QMetaType::QVariantList);

    // Deep enough to overflow a worker's stack inside the parser if it were handed over.
    EXPECT_FALSE(PropertyList::parse(chainOfArrays(200000), &error).has_value());
    EXPECT_TRUE(error.contains(QStringLiteral("nested"))) << error.toStdString();

    EXPECT_FALSE(PropertyList::parse(chainOfArrays(3, 0), &error).has_value());
    EXPECT_TRUE(error.contains(QStringLiteral("itself"))) << error.toStdString();

    QVariant value = QVariantList();
    for (int i = 0; i < PropertyList::kMaxDepth + 1; ++i)
        value = QVariantList { value };
    EXPECT_TRUE(PropertyList::serialize(value, PlistFormat::Binary, &error).isEmpty()) << "nor written";
}

TEST(PropertyList, ParsingOnASmallStackSurvivesHostileInput)
{
    // Workers run with 2 MiB stacks; parse there.
    QByteArray deepXml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 200; ++i)
        deepXml += "<array>";
    for (int i = 0; i < 200; ++i)
        deepXml += "</array>";
    deepXml += "</plist>";
    bool parsedXml = false;
    bool parsedDeepBinary = true;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 2 * 1024 * 1024);
    struct Work {
        QByteArray xml;
        bool *xmlOk;
        bool *binaryOk;
    } work { deepXml, &parsedXml, &parsedDeepBinary };
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, &attributes,
                  [](void *arg) -> void * {
                      auto *w = static_cast<Work *>(arg);
                      *w->xmlOk = PropertyList::parse(w->xml).has_value();
                      *w->binaryOk = PropertyList::parse(chainOfArrays(100000)).has_value();
                      return nullptr;
                  },
                  &work),
        0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_TRUE(parsedXml) << "200 levels are within the limit";
    EXPECT_FALSE(parsedDeepBinary);
}

TEST(PropertyList, ReadFileRefusesOversizedAndMissingFiles)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.plist"));
    testsupport::writeFile(path, QByteArray(4096, ' '));
    QString error;
    EXPECT_FALSE(PropertyList::readFile(path, &error, 1024).has_value());
    EXPECT_TRUE(error.contains(QStringLiteral("too large"))) << error.toStdString();
    EXPECT_FALSE(PropertyList::readFile(dir.filePath(QStringLiteral("missing")), &error).has_value());
    EXPECT_FALSE(PropertyList::readFile(dir.path(), &error).has_value()) << "a directory is not a file";
}

TEST(PropertyList, AFailedWriteLeavesTheOldFileIntact)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.plist"));
    ASSERT_TRUE(PropertyList::writeFile(path, QVariantMap { { QStringLiteral("version"), 1 } }));
    const QByteArray before = testsupport::readFile(path);

    // A value the format cannot hold: nothing is written at all.
    EXPECT_FALSE(PropertyList::writeFile(path, QVariantMap { { QStringLiteral("bad"), QVariant() } }));
    EXPECT_EQ(testsupport::readFile(path), before);

    // A write cut short (here by the file-size limit, which binds root as well): the temporary
    // file is dropped and the old file stays.
    struct rlimit old = {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written
        = PropertyList::writeFile(path, QVariantMap { { QStringLiteral("blob"), QByteArray(256 * 1024, 'x') } });
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(testsupport::readFile(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList { QStringLiteral("settings.plist") });
}
