#include "platform/PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QTimeZone>

#include <plist/plist.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace platform {

namespace {

// Seconds between the Unix epoch and the property-list epoch (2001-01-01 00:00:00 UTC).
constexpr qint64 kPlistEpochOffset = 978307200;

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// libplist's XML reader recurses once per container, so a hostile file of nested
// <array> elements would exhaust the stack before it returns. Count the open containers
// first; the scan is linear and cheap compared with the parse.
bool xmlNestingWithinLimit(const QByteArray &bytes, int limit)
{
    int depth = 0;
    const char *p = bytes.constData();
    const char *end = p + bytes.size();
    while (p < end) {
        const char *lt = static_cast<const char *>(memchr(p, '<', size_t(end - p)));
        if (!lt)
            break;
        p = lt + 1;
        const bool closing = p < end && *p == '/';
        if (closing)
            ++p;
        auto startsWith = [&](const char *word, size_t n) { return size_t(end - p) >= n && memcmp(p, word, n) == 0; };
        const bool container = startsWith("dict", 4) || startsWith("array", 5);
        if (!container)
            continue;
        // "<dict/>" opens nothing.
        const char *gt = static_cast<const char *>(memchr(p, '>', size_t(end - p)));
        const bool selfClosing = gt && gt > p && gt[-1] == '/';
        if (closing)
            depth = depth > 0 ? depth - 1 : 0;
        else if (!selfClosing && ++depth > limit)
            return false;
    }
    return true;
}

// libplist's binary reader also recurses once per container. Walk the object graph of a
// binary list first: the longest chain of containers must stay within the limit, and a
// reference cycle (which libplist would chase forever) is refused. Each object is visited
// once, so the cost is linear in the file.
QString checkBinaryStructure(const QByteArray &bytes, int limit)
{
    const QString malformed = QStringLiteral("malformed binary property list");
    const QString deeper = QStringLiteral("property list nested deeper than %1 levels").arg(limit);
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const quint64 size = quint64(bytes.size());
    if (size < 8 + 32)
        return malformed;
    auto readBE = [&](quint64 offset, int width, quint64 *value) {
        if (width < 1 || width > 8 || offset > size || quint64(width) > size - offset)
            return false;
        quint64 v = 0;
        for (int i = 0; i < width; ++i)
            v = (v << 8) | data[offset + quint64(i)];
        *value = v;
        return true;
    };
    const uchar *trailer = data + size - 32;
    const int offsetSize = trailer[6];
    const int refSize = trailer[7];
    quint64 objectCount = 0;
    quint64 topObject = 0;
    quint64 tableOffset = 0;
    if (!readBE(size - 24, 8, &objectCount) || !readBE(size - 16, 8, &topObject) || !readBE(size - 8, 8, &tableOffset))
        return malformed;
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || objectCount == 0 || topObject >= objectCount
        || tableOffset >= size || objectCount > (size - tableOffset) / quint64(offsetSize))
        return malformed;

    // Children of object i, or false when its header is malformed.
    auto children = [&](quint64 index, QList<quint64> *refs) {
        refs->clear();
        quint64 offset = 0;
        if (!readBE(tableOffset + index * quint64(offsetSize), offsetSize, &offset) || offset >= size)
            return false;
        const uchar marker = data[offset];
        const int kind = marker >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD)
            return true;
        quint64 count = marker & 0x0F;
        quint64 cursor = offset + 1;
        if (count == 0x0F) {
            if (cursor >= size || (data[cursor] >> 4) != 0x1)
                return false;
            const int width = 1 << (data[cursor] & 0x0F);
            if (!readBE(cursor + 1, width, &count))
                return false;
            cursor += 1 + quint64(width);
        }
        const quint64 refCount = kind == 0xD ? count * 2 : count;
        if (count > size || refCount > (size - std::min(cursor, size)) / quint64(refSize))
            return false;
        refs->reserve(qsizetype(refCount));
        for (quint64 i = 0; i < refCount; ++i) {
            quint64 ref = 0;
            if (!readBE(cursor + i * quint64(refSize), refSize, &ref) || ref >= objectCount)
                return false;
            refs->append(ref);
        }
        return true;
    };

    enum : uchar { Unvisited = 0, InProgress = 1, Done = 2 };
    std::vector<uchar> state(objectCount, Unvisited);
    std::vector<int> height(objectCount, 0);
    struct Frame {
        quint64 object;
        QList<quint64> refs;
        qsizetype next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({ topObject, {}, 0 });
    if (!children(topObject, &stack.back().refs))
        return malformed;
    state[topObject] = InProgress;
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next < frame.refs.size()) {
            const quint64 child = frame.refs.at(frame.next++);
            if (state[child] == InProgress)
                return QStringLiteral("binary property list refers to itself");
            if (state[child] == Done)
                continue;
            if (int(stack.size()) > limit)
                return deeper;
            Frame childFrame { child, {}, 0 };
            if (!children(child, &childFrame.refs))
                return malformed;
            state[child] = InProgress;
            stack.push_back(std::move(childFrame));
            continue;
        }
        int h = 0;
        for (quint64 ref : frame.refs)
            h = std::max(h, height[ref] + 1);
        height[frame.object] = h;
        state[frame.object] = Done;
        stack.pop_back();
        if (!stack.empty() && int(stack.size()) + h > limit)
            return deeper;
    }
    return height[topObject] <= limit ? QString() : deeper;
}

std::optional<QVariant> toVariant(plist_t node, int depth, QString *error)
{
    if (depth > PropertyList::kMaxDepth) {
        setError(error, QStringLiteral("property list nested deeper than %1 levels").arg(PropertyList::kMaxDepth));
        return std::nullopt;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return QVariant(value != 0);
    }
    case PLIST_UINT: {
        // libplist keeps every integer as 64 raw bits; negative values come back in
        // two's complement, which the cast restores.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant(static_cast<qint64>(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return QVariant(value);
    }
    case PLIST_STRING: {
        char *text = nullptr;
        plist_get_string_val(node, &text);
        QString value = QString::fromUtf8(text ? text : "");
        free(text);
        return QVariant(value);
    }
    case PLIST_DATA: {
        char *data = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &data, &length);
        QByteArray value(data ? data : "", data ? qsizetype(length) : 0);
        free(data);
        return QVariant(value);
    }
    case PLIST_DATE: {
        int32_t sec = 0;
        int32_t usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 msecs = (qint64(sec) + kPlistEpochOffset) * 1000 + usec / 1000;
        return QVariant(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC));
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t count = plist_array_get_size(node);
        list.reserve(qsizetype(count));
        for (uint32_t i = 0; i < count; ++i) {
            auto item = toVariant(plist_array_get_item(node, i), depth + 1, error);
            if (!item)
                return std::nullopt;
            list.append(*item);
        }
        return QVariant(list);
    }
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!key)
                break;
            const QString name = QString::fromUtf8(key);
            free(key);
            auto item = value ? toVariant(value, depth + 1, error) : std::optional<QVariant>();
            if (!item) {
                free(it);
                if (!value)
                    setError(error, QStringLiteral("dictionary key \"%1\" has no value").arg(name));
                return std::nullopt;
            }
            map.insert(name, *item);
        }
        free(it);
        return QVariant(map);
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return QVariant(static_cast<qint64>(value));
    }
    case PLIST_KEY:
    case PLIST_NONE:
    default:
        break;
    }
    setError(error, QStringLiteral("unsupported property-list node"));
    return std::nullopt;
}

PlistPtr fromVariant(const QVariant &value, int depth, QString *error)
{
    if (depth > PropertyList::kMaxDepth) {
        setError(error, QStringLiteral("value nested deeper than %1 levels").arg(PropertyList::kMaxDepth));
        return nullptr;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        return PlistPtr(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
    case QMetaType::Char:
        return PlistPtr(plist_new_uint(static_cast<uint64_t>(value.toLongLong())));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar: {
        const qulonglong unsignedValue = value.toULongLong();
        if (unsignedValue > qulonglong(std::numeric_limits<qint64>::max())) {
            setError(error,
                QStringLiteral("integer %1 exceeds the signed 64-bit range of property lists").arg(unsignedValue));
            return nullptr;
        }
        return PlistPtr(plist_new_uint(unsignedValue));
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double real = value.toDouble();
        return PlistPtr(plist_new_real(real));
    }
    case QMetaType::QString:
        return PlistPtr(plist_new_string(value.toString().toUtf8().constData()));
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return PlistPtr(plist_new_data(bytes.constData(), uint64_t(bytes.size())));
    }
    case QMetaType::QDateTime: {
        const QDateTime date = value.toDateTime();
        if (!date.isValid()) {
            setError(error, QStringLiteral("invalid date"));
            return nullptr;
        }
        const qint64 msecs = date.toMSecsSinceEpoch() - kPlistEpochOffset * 1000;
        const qint64 sec = msecs >= 0 ? msecs / 1000 : -((-msecs + 999) / 1000);
        if (sec < std::numeric_limits<int32_t>::min() || sec > std::numeric_limits<int32_t>::max()) {
            setError(error,
                QStringLiteral("date %1 is outside the range this property-list writer can store")
                    .arg(date.toString(Qt::ISODate)));
            return nullptr;
        }
        const qint64 usec = (msecs - sec * 1000) * 1000;
        return PlistPtr(plist_new_date(int32_t(sec), int32_t(usec)));
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        PlistPtr array(plist_new_array());
        const QVariantList list = value.toList();
        for (const QVariant &item : list) {
            PlistPtr node = fromVariant(item, depth + 1, error);
            if (!node)
                return nullptr;
            plist_array_append_item(array.get(), node.release());
        }
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        PlistPtr dict(plist_new_dict());
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            PlistPtr node = fromVariant(it.value(), depth + 1, error);
            if (!node)
                return nullptr;
            plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), node.release());
        }
        return dict;
    }
    default:
        break;
    }
    setError(error,
        value.isValid() ? QStringLiteral("values of type %1 cannot be stored in a property list")
                              .arg(QString::fromLatin1(value.typeName()))
                        : QStringLiteral("a null value cannot be stored in a property list"));
    return nullptr;
}

} // namespace

std::optional<QVariant> PropertyList::parse(const QByteArray &bytes, QString *error)
{
    if (bytes.isEmpty()) {
        setError(error, QStringLiteral("empty property list"));
        return std::nullopt;
    }
    if (bytes.size() > kDefaultMaxBytes) {
        setError(error, QStringLiteral("property list of %1 bytes is too large").arg(bytes.size()));
        return std::nullopt;
    }
    const bool binary = plist_is_binary(bytes.constData(), uint32_t(bytes.size())) != 0;
    if (binary) {
        const QString problem = checkBinaryStructure(bytes, kMaxDepth);
        if (!problem.isEmpty()) {
            setError(error, problem);
            return std::nullopt;
        }
    } else if (!xmlNestingWithinLimit(bytes, kMaxDepth)) {
        setError(error, QStringLiteral("property list nested deeper than %1 levels").arg(kMaxDepth));
        return std::nullopt;
    }
    plist_t raw = nullptr;
    if (binary)
        plist_from_bin(bytes.constData(), uint32_t(bytes.size()), &raw);
    else
        plist_from_xml(bytes.constData(), uint32_t(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root) {
        setError(error,
            binary ? QStringLiteral("malformed binary property list") : QStringLiteral("malformed XML property list"));
        return std::nullopt;
    }
    return toVariant(root.get(), 0, error);
}

QByteArray PropertyList::serialize(const QVariant &root, PlistFormat format, QString *error)
{
    PlistPtr node = fromVariant(root, 0, error);
    if (!node)
        return {};
    char *out = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::Xml) {
        plist_to_xml(node.get(), &out, &length);
        QByteArray bytes(out ? out : "", out ? qsizetype(length) : 0);
        plist_to_xml_free(out);
        if (bytes.isEmpty())
            setError(error, QStringLiteral("libplist produced no XML"));
        return bytes;
    }
    plist_to_bin(node.get(), &out, &length);
    QByteArray bytes(out ? out : "", out ? qsizetype(length) : 0);
    plist_to_bin_free(out);
    if (bytes.isEmpty())
        setError(error, QStringLiteral("libplist produced no binary property list"));
    return bytes;
}

std::optional<QVariant> PropertyList::readFile(const QString &path, QString *error, qint64 maxBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot open %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    if (file.size() > maxBytes) {
        setError(error, QStringLiteral("%1 is too large (%2 bytes)").arg(path).arg(file.size()));
        return std::nullopt;
    }
    // read() also covers files whose size() is 0 but which have content (/proc-like).
    const QByteArray bytes = file.read(maxBytes + 1);
    if (bytes.size() > maxBytes) {
        setError(error, QStringLiteral("%1 is too large").arg(path));
        return std::nullopt;
    }
    if (file.error() != QFileDevice::NoError) {
        setError(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return parse(bytes, error);
}

bool PropertyList::writeFile(const QString &path, const QVariant &root, PlistFormat format, QString *error)
{
    const QByteArray bytes = serialize(root, format, error);
    if (bytes.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        setError(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
        file.cancelWriting();
        return false;
    }
    return true;
}

} // namespace platform
