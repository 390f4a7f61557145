#include "protocol/AEDescriptorPrinter.h"

#include "protocol/AEDescriptor.h"

namespace protocol {

namespace {

// Deeper values are elided: the text is for people, and a decoded event is never this deep.
constexpr int kMaxPrintDepth = 40;
constexpr qsizetype kMaxPrintedDataBytes = 64;

QString quotedCode(FourCharCode code)
{
    const QString text = fourCharCodeToString(code);
    return text.startsWith(QLatin1String("0x")) ? text : QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString quotedText(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\') + c;
        else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out + QLatin1Char('"');
}

QString printData(const AEDescriptor &descriptor)
{
    const DescType type = descriptor.descriptorType();
    if (type == typeNull && descriptor.data().isEmpty())
        return QStringLiteral("null()");
    if ((type == typeTrue || type == typeFalse) && descriptor.data().isEmpty())
        return quotedCode(type);
    if (const auto number = descriptor.int32Value())
        return quotedCode(type) + QStringLiteral("(%1)").arg(*number);
    if (const auto text = descriptor.stringValue())
        return quotedCode(type) + QLatin1Char('(') + quotedText(*text) + QLatin1Char(')');
    if (type == typeFileURL) {
        const QUrl url = descriptor.fileURLValue();
        if (!url.isEmpty())
            return quotedCode(type) + QLatin1Char('(') + quotedText(url.toString(QUrl::FullyEncoded))
                + QLatin1Char(')');
    }
    const QByteArray data = descriptor.data();
    QString out
        = quotedCode(type) + QStringLiteral("($") + QString::fromLatin1(data.left(kMaxPrintedDataBytes).toHex());
    if (data.size() > kMaxPrintedDataBytes)
        out += QStringLiteral("...(%1 bytes)").arg(data.size());
    return out + QStringLiteral("$)");
}

QString printAt(const AEDescriptor &descriptor, int depth);

QString printEntries(const AEDescriptor &descriptor, int depth, bool withAttributes)
{
    QStringList parts;
    for (const AEKeyword keyword : descriptor.paramKeywords())
        parts << quotedCode(keyword) + QLatin1Char(':')
                + printAt(*descriptor.paramDescriptorForKeyword(keyword), depth + 1);
    if (withAttributes) {
        for (const AEKeyword keyword : descriptor.attributeKeywords()) {
            parts << QLatin1Char('&') + quotedCode(keyword) + QLatin1Char(':')
                    + printAt(*descriptor.attributeDescriptorForKeyword(keyword), depth + 1);
        }
    }
    if (parts.isEmpty())
        return QStringLiteral("{}");
    return QStringLiteral("{ ") + parts.join(QStringLiteral(", ")) + QStringLiteral(" }");
}

QString printAt(const AEDescriptor &descriptor, int depth)
{
    if (depth > kMaxPrintDepth)
        return QStringLiteral("...");
    switch (descriptor.form()) {
    case AEDescriptor::Form::Data:
        return printData(descriptor);
    case AEDescriptor::Form::List: {
        QStringList parts;
        for (int index = 1; index <= descriptor.numberOfItems(); ++index)
            parts << printAt(*descriptor.descriptorAtIndex(index), depth + 1);
        const QString items = QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
        return descriptor.descriptorType() == typeAEList ? items : quotedCode(descriptor.descriptorType()) + items;
    }
    case AEDescriptor::Form::Record: {
        const QString entries = printEntries(descriptor, depth, false);
        return descriptor.descriptorType() == typeAERecord ? entries
                                                           : quotedCode(descriptor.descriptorType()) + entries;
    }
    case AEDescriptor::Form::Event:
        return quotedCode(descriptor.eventClass()) + QLatin1Char('\\') + quotedCode(descriptor.eventID())
            + printEntries(descriptor, depth, true);
    }
    return QString();
}

} // namespace

QString AEDescriptorPrinter::print(const AEDescriptor &descriptor)
{
    return printAt(descriptor, 0);
}

} // namespace protocol
