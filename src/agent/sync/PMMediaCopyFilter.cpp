#include "agent/sync/PMMediaCopyFilter.h"

#include "agent/media/PMMediaExtensionLists.h"
#include "agent/sync/PMSyncController.h"

namespace {

QString categoryName(PMMediaCategory category)
{
    switch (category) {
    case PMMediaCategory::Movies:
        return QStringLiteral("movies");
    case PMMediaCategory::Music:
        return QStringLiteral("music");
    case PMMediaCategory::Pictures:
        return QStringLiteral("pictures");
    case PMMediaCategory::Documents:
        return QStringLiteral("documents");
    }
    return QString();
}

} // namespace

PMMediaCopyFilter::PMMediaCopyFilter(const PMSyncController &controller, const PMMediaLists::List &validators)
    : m_controller(controller)
{
    m_validator.addContainerValidators(validators);
    m_validator.setOwner(this);
}

PMMediaCopyFilter::~PMMediaCopyFilter()
{
    m_validator.setOwner(nullptr);
}

std::shared_ptr<PMMediaCopyFilter> PMMediaCopyFilter::forController(const PMSyncController &controller)
{
    return forSettings(controller, controller.syncMoviesState(), controller.syncMusicState(),
        controller.syncPicturesState(), controller.syncDocumentsState(), controller.syncDeviceFilter());
}

std::shared_ptr<PMMediaCopyFilter> PMMediaCopyFilter::forSettings(
    const PMSyncController &controller, bool movies, bool music, bool pictures, bool documents, int deviceFilter)
{
    PMMediaExtensionLists lists;
    lists.updateAll(movies, music, pictures, documents, deviceFilter);
    auto filter = std::make_shared<PMMediaCopyFilter>(controller, lists.mediaFileExtensions());
    const int deviceClass = PMMediaExtensionLists::deviceClassForFilter(deviceFilter);
    const std::pair<PMMediaCategory, bool> categories[]
        = { { PMMediaCategory::Movies, movies }, { PMMediaCategory::Music, music },
              { PMMediaCategory::Pictures, pictures }, { PMMediaCategory::Documents, documents } };
    for (const auto &[category, enabled] : categories) {
        if (!enabled)
            filter->m_offCategories.push_back(
                { categoryName(category), PMMediaExtensionLists::listFor(category, deviceClass) });
    }
    return filter;
}

bool PMMediaCopyFilter::shouldCopyItemExplained(
    const QString &path, const QString &baseName, bool limitTo4G, const struct stat *known, PMFilterRefusal &why) const
{
    if (m_validator.shouldCopyItem(path, baseName, limitTo4G, known, &why))
        return true;
    if (why.kind != PMFilterRefusal::Kind::NameNotListed && why.kind != PMFilterRefusal::Kind::NoLists)
        return false;
    // The lists of a switched-off category are not in the validator; a name one of them takes
    // was left out because the category is off. The catch-all entries that only special rules
    // decide for say nothing about a name.
    const QByteArray name = baseName.toUtf8();
    for (const OffCategory &category : m_offCategories) {
        for (const auto &validator : category.validators) {
            if (validator->specialValidators().empty() && validator->pattern().matches(name)) {
                why = PMFilterRefusal { PMFilterRefusal::Kind::CategoryOff, PMFilterRefusal::Property::None,
                    category.name, {} };
                return false;
            }
        }
    }
    return false;
}

bool PMMediaCopyFilter::decide(
    const QString &path, const QString &baseName, bool limitTo4G, const struct stat *known) const
{
    if (!m_leftOut)
        return m_validator.shouldCopyItem(path, baseName, limitTo4G, known);
    PMFilterRefusal why;
    if (shouldCopyItemExplained(path, baseName, limitTo4G, known, why))
        return true;
    if (why.isSet())
        m_leftOut->record(path, why);
    return false;
}

bool PMMediaCopyFilter::shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const
{
    return decide(path, baseName, limitTo4G, nullptr);
}

bool PMMediaCopyFilter::shouldCopyExaminedItem(
    const QString &path, const QString &baseName, bool limitTo4G, const struct stat &known) const
{
    return decide(path, baseName, limitTo4G, &known);
}

bool PMMediaCopyFilter::cancelPending() const
{
    return m_controller.cancelPending();
}
