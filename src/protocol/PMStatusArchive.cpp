#include "protocol/PMStatusArchive.h"

#include "platform/PropertyList.h"

namespace protocol {

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

std::optional<AEDescriptor> PMStatusArchive::statusDescriptor(const QVariantMap &status, QString *error)
{
    QString why;
    const QByteArray bytes = platform::PropertyList::serialize(status, platform::PlistFormat::Binary, &why);
    if (bytes.isEmpty()) {
        setError(error, QStringLiteral("status cannot be archived: %1").arg(why));
        return std::nullopt;
    }
    return AEDescriptor::descriptorWithData(typeStatus, bytes);
}

std::optional<QVariantMap> PMStatusArchive::statusFromDescriptor(const AEDescriptor &descriptor, QString *error)
{
    if (descriptor.form() != AEDescriptor::Form::Data || descriptor.descriptorType() != typeStatus) {
        setError(error, QStringLiteral("not a 'STAT' descriptor"));
        return std::nullopt;
    }
    if (descriptor.data().isEmpty()) {
        setError(error, QStringLiteral("the 'STAT' descriptor has no data"));
        return std::nullopt;
    }
    QString why;
    const auto root = platform::PropertyList::parse(descriptor.data(), &why);
    if (!root) {
        setError(error, QStringLiteral("status cannot be read: %1").arg(why));
        return std::nullopt;
    }
    if (root->typeId() != QMetaType::QVariantMap) {
        setError(error, QStringLiteral("status is not a dictionary"));
        return std::nullopt;
    }
    return root->toMap();
}

} // namespace protocol
