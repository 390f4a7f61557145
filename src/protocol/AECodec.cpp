#include "protocol/AECodec.h"

#include <QtEndian>

namespace protocol {

namespace {

constexpr char kMagic[4] = { 'P', 'M', 'A', 'E' };
constexpr qsizetype kHeaderSize = 5; // magic and version
// The smallest flattened descriptor: type, form and an empty data length (or a zero count).
constexpr qsizetype kMinDescriptorSize = 4 + 1 + 4;
constexpr qsizetype kMinEntrySize = 4 + kMinDescriptorSize;

class Writer {
public:
    bool write(const AEDescriptor &descriptor, int depth)
    {
        if (depth > AECodec::kMaxDepth)
            return fail(QStringLiteral("descriptors nested deeper than %1").arg(AECodec::kMaxDepth));
        if (++m_count > AECodec::kMaxDescriptors)
            return fail(QStringLiteral("more than %1 descriptors").arg(AECodec::kMaxDescriptors));
        putCode(descriptor.descriptorType());
        m_out.append(char(descriptor.form()));
        switch (descriptor.form()) {
        case AEDescriptor::Form::Data: {
            const QByteArray data = descriptor.data();
            putCode(quint32(data.size()));
            m_out.append(data);
            break;
        }
        case AEDescriptor::Form::List:
            putCode(quint32(descriptor.numberOfItems()));
            for (int index = 1; index <= descriptor.numberOfItems(); ++index) {
                if (!write(*descriptor.descriptorAtIndex(index), depth + 1))
                    return false;
            }
            break;
        case AEDescriptor::Form::Record:
            if (!writeParams(descriptor, depth))
                return false;
            break;
        case AEDescriptor::Form::Event: {
            putCode(descriptor.eventClass());
            putCode(descriptor.eventID());
            const QList<AEKeyword> attributes = descriptor.attributeKeywords();
            putCode(quint32(attributes.size()));
            for (const AEKeyword keyword : attributes) {
                putCode(keyword);
                if (!write(*descriptor.attributeDescriptorForKeyword(keyword), depth + 1))
                    return false;
            }
            if (!writeParams(descriptor, depth))
                return false;
            break;
        }
        }
        if (m_out.size() > AECodec::kMaxMessageSize)
            return fail(QStringLiteral("message larger than %1 bytes").arg(AECodec::kMaxMessageSize));
        return true;
    }

    QByteArray m_out;
    QString m_error;

private:
    bool writeParams(const AEDescriptor &descriptor, int depth)
    {
        const QList<AEKeyword> keywords = descriptor.paramKeywords();
        putCode(quint32(keywords.size()));
        for (const AEKeyword keyword : keywords) {
            putCode(keyword);
            if (!write(*descriptor.paramDescriptorForKeyword(keyword), depth + 1))
                return false;
        }
        return true;
    }

    void putCode(quint32 value)
    {
        char bytes[4];
        qToBigEndian(value, bytes);
        m_out.append(bytes, 4);
    }

    bool fail(const QString &why)
    {
        m_error = why;
        return false;
    }

    qsizetype m_count = 0;
};

class Reader {
public:
    explicit Reader(QByteArrayView bytes)
        : m_bytes(bytes)
    {
    }

    std::optional<AEDescriptor> read(int depth)
    {
        if (depth > AECodec::kMaxDepth)
            return fail(QStringLiteral("descriptors nested deeper than %1").arg(AECodec::kMaxDepth));
        if (++m_count > AECodec::kMaxDescriptors)
            return fail(QStringLiteral("more than %1 descriptors").arg(AECodec::kMaxDescriptors));
        quint32 type = 0;
        quint8 form = 0;
        if (!takeCode(type) || !takeByte(form))
            return fail(QStringLiteral("truncated descriptor header"));
        switch (AEDescriptor::Form(form)) {
        case AEDescriptor::Form::Data: {
            quint32 length = 0;
            if (!takeCode(length))
                return fail(QStringLiteral("truncated data length"));
            if (length > remaining())
                return fail(QStringLiteral("data length %1 exceeds the %2 bytes left").arg(length).arg(remaining()));
            const QByteArray data = m_bytes.sliced(m_pos, length).toByteArray();
            m_pos += length;
            return AEDescriptor::descriptorWithData(type, data);
        }
        case AEDescriptor::Form::List: {
            quint32 count = 0;
            if (!takeCount(count, kMinDescriptorSize))
                return std::nullopt;
            if (type != typeAEList)
                return fail(QStringLiteral("list form with type %1").arg(fourCharCodeToString(type)));
            AEDescriptor list = AEDescriptor::listDescriptor();
            for (quint32 index = 0; index < count; ++index) {
                auto item = read(depth + 1);
                if (!item)
                    return std::nullopt;
                list.appendDescriptor(*item);
            }
            return list;
        }
        case AEDescriptor::Form::Record: {
            AEDescriptor record = AEDescriptor::recordDescriptor(type);
            if (!readParams(record, depth))
                return std::nullopt;
            return record;
        }
        case AEDescriptor::Form::Event: {
            quint32 eventClass = 0;
            quint32 eventID = 0;
            if (!takeCode(eventClass) || !takeCode(eventID))
                return fail(QStringLiteral("truncated event header"));
            if (type != typeAppleEvent)
                return fail(QStringLiteral("event form with type %1").arg(fourCharCodeToString(type)));
            AEDescriptor event = AEDescriptor::appleEvent(eventClass, eventID);
            quint32 count = 0;
            if (!takeCount(count, kMinEntrySize))
                return std::nullopt;
            for (quint32 index = 0; index < count; ++index) {
                quint32 keyword = 0;
                if (!takeCode(keyword))
                    return fail(QStringLiteral("truncated attribute keyword"));
                if (event.attributeDescriptorForKeyword(keyword))
                    return fail(QStringLiteral("attribute %1 repeated").arg(fourCharCodeToString(keyword)));
                auto value = read(depth + 1);
                if (!value)
                    return std::nullopt;
                event.setAttributeDescriptor(*value, keyword);
            }
            if (!readParams(event, depth))
                return std::nullopt;
            return event;
        }
        }
        return fail(QStringLiteral("unknown descriptor form %1").arg(form));
    }

    qsizetype remaining() const { return m_bytes.size() - m_pos; }
    void skip(qsizetype count) { m_pos += count; }
    QString m_error;

private:
    bool readParams(AEDescriptor &container, int depth)
    {
        quint32 count = 0;
        if (!takeCount(count, kMinEntrySize))
            return false;
        for (quint32 index = 0; index < count; ++index) {
            quint32 keyword = 0;
            if (!takeCode(keyword))
                return failed(QStringLiteral("truncated keyword"));
            if (container.paramDescriptorForKeyword(keyword))
                return failed(QStringLiteral("keyword %1 repeated").arg(fourCharCodeToString(keyword)));
            auto value = read(depth + 1);
            if (!value)
                return false;
            container.setParamDescriptor(*value, keyword);
        }
        return true;
    }

    // A count larger than the bytes left could hold is refused before anything is allocated.
    bool takeCount(quint32 &count, qsizetype minimumElementSize)
    {
        if (!takeCode(count))
            return failed(QStringLiteral("truncated count"));
        if (count > quint64(remaining() / minimumElementSize))
            return failed(
                QStringLiteral("count %1 exceeds what the %2 bytes left can hold").arg(count).arg(remaining()));
        return true;
    }

    bool takeCode(quint32 &value)
    {
        if (remaining() < 4)
            return false;
        value = qFromBigEndian<quint32>(m_bytes.data() + m_pos);
        m_pos += 4;
        return true;
    }

    bool takeByte(quint8 &value)
    {
        if (remaining() < 1)
            return false;
        value = quint8(m_bytes.at(m_pos));
        m_pos += 1;
        return true;
    }

    std::nullopt_t fail(const QString &why)
    {
        failed(why);
        return std::nullopt;
    }

    bool failed(const QString &why)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("%1 at byte %2").arg(why).arg(m_pos);
        return false;
    }

    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    qsizetype m_count = 0;
};

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

std::optional<QByteArray> AECodec::flatten(const AEDescriptor &descriptor, QString *error)
{
    Writer writer;
    writer.m_out.append(kMagic, 4);
    writer.m_out.append(char(kFormatVersion));
    if (!writer.write(descriptor, 1)) {
        setError(error, writer.m_error);
        return std::nullopt;
    }
    return writer.m_out;
}

std::optional<AEDescriptor> AECodec::unflatten(QByteArrayView bytes, QString *error)
{
    if (bytes.size() > kMaxMessageSize) {
        setError(error, QStringLiteral("message larger than %1 bytes").arg(kMaxMessageSize));
        return std::nullopt;
    }
    if (bytes.size() < kHeaderSize || !bytes.first(4).toByteArray().startsWith(QByteArray(kMagic, 4))) {
        setError(error, QStringLiteral("not a flattened descriptor (no PMAE header)"));
        return std::nullopt;
    }
    if (quint8(bytes.at(4)) != kFormatVersion) {
        setError(error, QStringLiteral("unsupported format version %1").arg(quint8(bytes.at(4))));
        return std::nullopt;
    }
    Reader reader(bytes);
    reader.skip(kHeaderSize);
    auto descriptor = reader.read(1);
    if (!descriptor) {
        setError(error, reader.m_error);
        return std::nullopt;
    }
    if (reader.remaining() != 0) {
        setError(error, QStringLiteral("%1 bytes after the descriptor").arg(reader.remaining()));
        return std::nullopt;
    }
    return descriptor;
}

} // namespace protocol
