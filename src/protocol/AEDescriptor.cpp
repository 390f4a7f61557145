#include "protocol/AEDescriptor.h"

#include "protocol/AEDescriptorPrinter.h"

#include <QDir>
#include <QFileInfo>
#include <QSharedData>
#include <QStringDecoder>
#include <QtEndian>

#include <utility>

namespace protocol {

using KeywordEntry = std::pair<AEKeyword, AEDescriptor>;

class AEDescriptorData : public QSharedData {
public:
    DescType type = typeNull;
    AEDescriptor::Form form = AEDescriptor::Form::Data;
    QByteArray data;
    QList<AEDescriptor> items;
    QList<KeywordEntry> params;
    QList<KeywordEntry> attributes;
    AEEventClass eventClass = 0;
    AEEventID eventID = 0;
};

namespace {

const AEDescriptor *findEntry(const QList<KeywordEntry> &entries, AEKeyword keyword)
{
    for (const auto &entry : entries) {
        if (entry.first == keyword)
            return &entry.second;
    }
    return nullptr;
}

void putEntry(QList<KeywordEntry> &entries, AEKeyword keyword, const AEDescriptor &value)
{
    for (auto &entry : entries) {
        if (entry.first == keyword) {
            entry.second = value;
            return;
        }
    }
    entries.append({ keyword, value });
}

QList<AEKeyword> keywordsOf(const QList<KeywordEntry> &entries)
{
    QList<AEKeyword> keywords;
    keywords.reserve(entries.size());
    for (const auto &entry : entries)
        keywords.append(entry.first);
    return keywords;
}

} // namespace

AEDescriptor::AEDescriptor()
    : d(new AEDescriptorData)
{
}

AEDescriptor::AEDescriptor(QSharedDataPointer<AEDescriptorData> data)
    : d(std::move(data))
{
}

AEDescriptor::AEDescriptor(const AEDescriptor &other) = default;
AEDescriptor::AEDescriptor(AEDescriptor &&other) noexcept = default;
AEDescriptor &AEDescriptor::operator=(const AEDescriptor &other) = default;
AEDescriptor &AEDescriptor::operator=(AEDescriptor &&other) noexcept = default;
AEDescriptor::~AEDescriptor() = default;

AEDescriptor AEDescriptor::nullDescriptor()
{
    return AEDescriptor();
}

AEDescriptor AEDescriptor::descriptorWithData(DescType type, const QByteArray &data)
{
    AEDescriptor descriptor;
    descriptor.d->type = type;
    descriptor.d->data = data;
    return descriptor;
}

AEDescriptor AEDescriptor::listDescriptor()
{
    AEDescriptor descriptor;
    descriptor.d->type = typeAEList;
    descriptor.d->form = Form::List;
    return descriptor;
}

AEDescriptor AEDescriptor::recordDescriptor(DescType type)
{
    AEDescriptor descriptor;
    descriptor.d->type = type;
    descriptor.d->form = Form::Record;
    return descriptor;
}

AEDescriptor AEDescriptor::appleEvent(AEEventClass eventClass, AEEventID eventID)
{
    AEDescriptor descriptor;
    descriptor.d->type = typeAppleEvent;
    descriptor.d->form = Form::Event;
    descriptor.d->eventClass = eventClass;
    descriptor.d->eventID = eventID;
    return descriptor;
}

AEDescriptor AEDescriptor::replyEvent()
{
    return appleEvent(kCoreEventClass, kAEAnswer);
}

AEDescriptor AEDescriptor::descriptorWithBOOL(bool value)
{
    return descriptorWithData(value ? typeTrue : typeFalse, QByteArray());
}

AEDescriptor AEDescriptor::descriptorWithInt32(qint32 value)
{
    QByteArray bytes(4, Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return descriptorWithData(typeSInt32, bytes);
}

AEDescriptor AEDescriptor::descriptorWithString(const QString &text)
{
    return descriptorWithData(typeUTF8Text, text.toUtf8());
}

AEDescriptor AEDescriptor::descriptorWithPSN(quint32 highLongOfPSN, quint32 lowLongOfPSN)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToBigEndian(highLongOfPSN, bytes.data());
    qToBigEndian(lowLongOfPSN, bytes.data() + 4);
    return descriptorWithData(typeProcessSerialNumber, bytes);
}

std::optional<AEDescriptor> AEDescriptor::descriptorWithPathAsCFURL(const QString &path)
{
    if (path.isEmpty() || path.contains(QChar(0)))
        return std::nullopt;
    const QString absolute = QDir::isAbsolutePath(path) ? path : QFileInfo(path).absoluteFilePath();
    return descriptorWithFileURL(QUrl::fromLocalFile(absolute));
}

std::optional<AEDescriptor> AEDescriptor::descriptorWithFilePath(const QString &path)
{
    return descriptorWithPathAsCFURL(path);
}

std::optional<AEDescriptor> AEDescriptor::descriptorWithFileURL(const QUrl &url)
{
    if (url.isEmpty() || !url.isValid() || url.isRelative())
        return std::nullopt;
    const QByteArray bytes = url.toEncoded(QUrl::FullyEncoded);
    if (bytes.isEmpty())
        return std::nullopt;
    return descriptorWithData(typeFileURL, bytes);
}

AEDescriptor AEDescriptor::propertyDescriptorOfType(DescType propertyCode, const AEDescriptor &container)
{
    QByteArray code(4, Qt::Uninitialized);
    qToBigEndian(propertyCode, code.data());
    QByteArray form(4, Qt::Uninitialized);
    qToBigEndian(formPropertyID, form.data());
    QByteArray wanted(4, Qt::Uninitialized);
    qToBigEndian(cProperty, wanted.data());

    AEDescriptor specifier = recordDescriptor(typeObjectSpecifier);
    specifier.setParamDescriptor(descriptorWithData(typeType, wanted), keyAEDesiredClass);
    specifier.setParamDescriptor(descriptorWithData(typeEnumerated, form), keyAEKeyForm);
    specifier.setParamDescriptor(descriptorWithData(typeType, code), keyAEKeyData);
    specifier.setParamDescriptor(container, keyAEContainer);
    return specifier;
}

DescType AEDescriptor::descriptorType() const
{
    return d->type;
}

AEDescriptor::Form AEDescriptor::form() const
{
    return d->form;
}

QByteArray AEDescriptor::data() const
{
    return d->data;
}

std::optional<bool> AEDescriptor::booleanValue() const
{
    if (d->form != Form::Data)
        return std::nullopt;
    if (d->type == typeTrue)
        return true;
    if (d->type == typeFalse)
        return false;
    if (d->type == typeBoolean && d->data.size() == 1)
        return d->data.at(0) != 0;
    return std::nullopt;
}

std::optional<qint32> AEDescriptor::int32Value() const
{
    if (d->form != Form::Data || d->type != typeSInt32 || d->data.size() != 4)
        return std::nullopt;
    return qFromBigEndian<qint32>(d->data.constData());
}

std::optional<QString> AEDescriptor::stringValue() const
{
    if (d->form != Form::Data || (d->type != typeUTF8Text && d->type != typeChar))
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(d->data);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QUrl AEDescriptor::fileURLValue() const
{
    if (d->form != Form::Data || d->type != typeFileURL || d->data.isEmpty())
        return QUrl();
    const QUrl url = QUrl::fromEncoded(d->data, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return QUrl();
    return url;
}

QUrl AEDescriptor::getFileURL() const
{
    const QUrl url = fileURLValue();
    if (!url.isLocalFile())
        return QUrl();
    // A host names another machine: such a path does not exist here.
    if (!url.host().isEmpty() && url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return QUrl();
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return QUrl();
    return url;
}

QString AEDescriptor::filePath() const
{
    const QUrl url = getFileURL();
    return url.isEmpty() ? QString() : url.path(QUrl::FullyDecoded);
}

int AEDescriptor::numberOfItems() const
{
    switch (d->form) {
    case Form::List:
        return int(d->items.size());
    case Form::Record:
    case Form::Event:
        return int(d->params.size());
    case Form::Data:
        break;
    }
    return 0;
}

std::optional<AEDescriptor> AEDescriptor::descriptorAtIndex(int index) const
{
    if (index < 1 || index > numberOfItems())
        return std::nullopt;
    if (d->form == Form::List)
        return d->items.at(index - 1);
    return d->params.at(index - 1).second;
}

bool AEDescriptor::insertDescriptor(const AEDescriptor &item, int index)
{
    if (d->form != Form::List || index < 1)
        return false;
    d->items.insert(qMin(qsizetype(index - 1), d->items.size()), item);
    return true;
}

bool AEDescriptor::appendDescriptor(const AEDescriptor &item)
{
    if (d->form != Form::List)
        return false;
    d->items.append(item);
    return true;
}

std::optional<AEDescriptor> AEDescriptor::paramDescriptorForKeyword(AEKeyword keyword) const
{
    if (const AEDescriptor *found = findEntry(d->params, keyword))
        return *found;
    return std::nullopt;
}

bool AEDescriptor::setParamDescriptor(const AEDescriptor &value, AEKeyword keyword)
{
    if (d->form != Form::Record && d->form != Form::Event)
        return false;
    putEntry(d->params, keyword, value);
    return true;
}

bool AEDescriptor::removeParamDescriptor(AEKeyword keyword)
{
    if (!findEntry(d->params, keyword))
        return false;
    d->params.removeIf([keyword](const KeywordEntry &entry) { return entry.first == keyword; });
    return true;
}

QList<AEKeyword> AEDescriptor::paramKeywords() const
{
    return keywordsOf(d->params);
}

AEEventClass AEDescriptor::eventClass() const
{
    return d->eventClass;
}

AEEventID AEDescriptor::eventID() const
{
    return d->eventID;
}

std::optional<AEDescriptor> AEDescriptor::attributeDescriptorForKeyword(AEKeyword keyword) const
{
    if (const AEDescriptor *found = findEntry(d->attributes, keyword))
        return *found;
    return std::nullopt;
}

bool AEDescriptor::setAttributeDescriptor(const AEDescriptor &value, AEKeyword keyword)
{
    if (d->form != Form::Event)
        return false;
    putEntry(d->attributes, keyword, value);
    return true;
}

QList<AEKeyword> AEDescriptor::attributeKeywords() const
{
    return keywordsOf(d->attributes);
}

qint32 AEDescriptor::errorNumber() const
{
    const auto number = paramDescriptorForKeyword(keyErrorNumber);
    return number ? number->int32Value().value_or(0) : 0;
}

std::optional<QString> AEDescriptor::errorString() const
{
    const auto text = paramDescriptorForKeyword(keyErrorString);
    return text ? text->stringValue() : std::nullopt;
}

QString AEDescriptor::description() const
{
    return AEDescriptorPrinter::print(*this);
}

bool operator==(const AEDescriptor &a, const AEDescriptor &b)
{
    if (a.d == b.d)
        return true;
    return a.d->type == b.d->type && a.d->form == b.d->form && a.d->data == b.d->data && a.d->items == b.d->items
        && a.d->params == b.d->params && a.d->attributes == b.d->attributes && a.d->eventClass == b.d->eventClass
        && a.d->eventID == b.d->eventID;
}

} // namespace protocol
