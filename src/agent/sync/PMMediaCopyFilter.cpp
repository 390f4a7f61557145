#include "agent/sync/PMMediaCopyFilter.h"

#include "agent/media/PMMediaExtensionLists.h"
#include "agent/sync/PMSyncController.h"

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
    return std::make_shared<PMMediaCopyFilter>(controller, lists.mediaFileExtensions());
}

bool PMMediaCopyFilter::shouldCopyItem(const QString &path, const QString &baseName, bool limitTo4G) const
{
    return m_validator.shouldCopyItem(path, baseName, limitTo4G);
}

bool PMMediaCopyFilter::shouldCopyExaminedItem(
    const QString &path, const QString &baseName, bool limitTo4G, const struct stat &known) const
{
    return m_validator.shouldCopyItem(path, baseName, limitTo4G, &known);
}

bool PMMediaCopyFilter::cancelPending() const
{
    return m_controller.cancelPending();
}
