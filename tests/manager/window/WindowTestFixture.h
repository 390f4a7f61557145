// What the window's unit tests share: an agent client whose agent is not running (every
// request answers its default at once, the properties still work locally), a volume list
// the test fills itself, and the controller over both.
#pragma once

#include "manager/client/LUMPellmereInterface.h"
#include "manager/volumes/LUMVolumeListModel.h"
#include "manager/volumes/LUMVolumeMonitor.h"
#include "manager/window/LUMApplicationController.h"
#include "platform/VolumeDescription.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace windowtest {

// No volume is mounted as far as this describer knows; the tests list drives themselves.
class NoMountsDescriber : public platform::VolumeDescriber {
public:
    std::optional<platform::VolumeDescription> describeVolume(const QString &) const override { return std::nullopt; }
    std::optional<platform::VolumeDescription> describeDevice(const QString &) const override { return std::nullopt; }
    QList<platform::MountEntry> mountedVolumes() const override { return {}; }
};

class ListedVolumes : public LUMVolumeMonitor {
public:
    using LUMVolumeMonitor::LUMVolumeMonitor;
    // Lists a drive mounted at path.
    void list(const QString &path, const QString &name);
};

class WindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Lists a drive (a folder of the test standing for its mount point) and selects it.
    QString listAndSelectDrive(const QString &name = QStringLiteral("Backup"));
    // The user's Movies, Music, Pictures and Documents folders, created.
    static void createMediaFolders();

    QTemporaryDir m_scratch;
    NoMountsDescriber m_describer;
    std::unique_ptr<ListedVolumes> m_monitor;
    std::unique_ptr<LUMVolumeListModel> m_volumeModel;
    std::unique_ptr<LUMPellmereInterface> m_client;
    std::unique_ptr<LUMApplicationController> m_controller;
};

} // namespace windowtest
