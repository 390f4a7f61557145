// A typed value of the control protocol, standing for an Apple Event descriptor: a type
// code with data, a list of descriptors, a record of keyword parameters, or an event (class
// and id, attributes, parameters). Events and their replies are descriptors of type 'aevt'.
//
//   AEDescriptor event = AEDescriptor::appleEvent(kPMEventClass, kPMQueryID);
//   event.setParamDescriptor(*AEDescriptor::descriptorWithFilePath("/media/alice/Backup"),
//                            keyDirectObject);
//   AEDescriptor reply = AEDescriptor::replyEvent();
//   reply.setParamDescriptor(AEDescriptor::descriptorWithBOOL(true), keyDirectObject);
//
// A value class with implicit sharing: copies are cheap and independent. An instance may be
// used from one thread at a time; distinct copies may be used on different threads.
// Keyword parameters keep the order in which they were first set; setting a keyword again
// replaces its value in place.
#pragma once

#include "protocol/AEConstants.h"

#include <QByteArray>
#include <QList>
#include <QSharedDataPointer>
#include <QString>
#include <QUrl>

#include <optional>

namespace protocol {

class AEDescriptorData;

class AEDescriptor {
public:
    // How a descriptor holds its value; also the form byte of the flattened format.
    enum class Form : quint8 { Data = 0, List = 1, Record = 2, Event = 3 };

    // A null descriptor ('null', no data): the reply of an event sent without one.
    AEDescriptor();
    AEDescriptor(const AEDescriptor &other);
    AEDescriptor(AEDescriptor &&other) noexcept;
    AEDescriptor &operator=(const AEDescriptor &other);
    AEDescriptor &operator=(AEDescriptor &&other) noexcept;
    ~AEDescriptor();

    static AEDescriptor nullDescriptor();
    static AEDescriptor descriptorWithData(DescType type, const QByteArray &data);
    static AEDescriptor listDescriptor();
    static AEDescriptor recordDescriptor(DescType type = typeAERecord);
    static AEDescriptor appleEvent(AEEventClass eventClass, AEEventID eventID);
    // An empty reply event ('aevt'/'ansr') for a handler to fill.
    static AEDescriptor replyEvent();

    // Makers of typed values.
    static AEDescriptor descriptorWithBOOL(bool value); // 'true' or 'fals', empty data
    static AEDescriptor descriptorWithInt32(qint32 value); // 'long', 4 bytes big-endian
    static AEDescriptor descriptorWithString(const QString &text); // 'utf8'
    static AEDescriptor descriptorWithPSN(quint32 highLongOfPSN, quint32 lowLongOfPSN); // 'psn ', 8 bytes
    // 'furl' with the UTF-8 bytes of the path's file URL (spaces and other unsafe characters
    // percent-escaped). A relative path is taken from the current folder. Nothing for an
    // empty path or one holding a NUL character.
    static std::optional<AEDescriptor> descriptorWithPathAsCFURL(const QString &path);
    static std::optional<AEDescriptor> descriptorWithFilePath(const QString &path);
    // 'furl' with the URL's encoded bytes; nothing for an empty, invalid or relative URL.
    static std::optional<AEDescriptor> descriptorWithFileURL(const QUrl &url);
    // An object specifier ('obj ') for the property `propertyCode` of `container`.
    static AEDescriptor propertyDescriptorOfType(DescType propertyCode, const AEDescriptor &container);

    DescType descriptorType() const;
    Form form() const;
    bool isNull() const { return descriptorType() == typeNull; }
    bool isList() const { return form() == Form::List; }
    bool isAppleEvent() const { return form() == Form::Event; }

    // The bytes of a data descriptor; empty for the other forms.
    QByteArray data() const;

    // 'true' and 'fals' (any data), 'bool' (one byte); nothing for other types.
    std::optional<bool> booleanValue() const;
    // 'long' with exactly four bytes.
    std::optional<qint32> int32Value() const;
    // 'utf8' or 'TEXT' holding valid UTF-8.
    std::optional<QString> stringValue() const;
    // The file URL of a 'furl' descriptor: an absolute file URL on this machine (no remote
    // host, no NUL in the path). An empty URL for other types and for any other URL.
    QUrl getFileURL() const;
    // Any absolute URL held by a 'furl' descriptor; an empty URL otherwise.
    QUrl fileURLValue() const;
    // getFileURL() as a local path; empty when there is none.
    QString filePath() const;

    // Lists: items are numbered from 1. Records and events: the parameters in order.
    int numberOfItems() const;
    std::optional<AEDescriptor> descriptorAtIndex(int index) const;
    // Lists only: inserts before `index` (1-based); an index past the end appends.
    bool insertDescriptor(const AEDescriptor &item, int index);
    bool appendDescriptor(const AEDescriptor &item);

    // Records and events: parameters by keyword.
    std::optional<AEDescriptor> paramDescriptorForKeyword(AEKeyword keyword) const;
    bool setParamDescriptor(const AEDescriptor &value, AEKeyword keyword);
    bool removeParamDescriptor(AEKeyword keyword);
    QList<AEKeyword> paramKeywords() const;

    // Events: the class and id (0 for other forms) and attributes by keyword.
    AEEventClass eventClass() const;
    AEEventID eventID() const;
    std::optional<AEDescriptor> attributeDescriptorForKeyword(AEKeyword keyword) const;
    bool setAttributeDescriptor(const AEDescriptor &value, AEKeyword keyword);
    QList<AEKeyword> attributeKeywords() const;

    // Replies: 'errn' as a 32-bit number (0 when absent or not a number) and 'errs' as text.
    qint32 errorNumber() const;
    std::optional<QString> errorString() const;

    // A readable one-line form for logs: 'long'(-50), 'utf8'("text"), [items], { 'kywd':... },
    // 'mdSY'\'QURY'{ '----':'furl'("file:///..."), &'addr':... }.
    QString description() const;

    friend bool operator==(const AEDescriptor &a, const AEDescriptor &b);
    friend bool operator!=(const AEDescriptor &a, const AEDescriptor &b) { return !(a == b); }

private:
    explicit AEDescriptor(QSharedDataPointer<AEDescriptorData> d);
    QSharedDataPointer<AEDescriptorData> d;
};

} // namespace protocol
