// The agent's desktop face: what a windowed agent adds to the headless one (a tray icon with
// the agent's menu, the log window, alert dialogs and the sync preview window), and what it
// asks of the agent.
//
// The face lives in a plugin (src/agent/desktop/, installed beside the agent) that only an
// agent with a display loads, so a headless agent never maps the Widgets libraries. The two
// sides meet through these interfaces only: the plugin links none of the agent's libraries
// (their shared instances would be copies), and the agent links no Widgets code.
//
//   PMDesktopFace *face = PMDesktopFaceLoader::load(&why);        // null: stay headless
//   std::unique_ptr<QCoreApplication> app = face->createApplication(argc, argv);
//   face->start(host);   // host: PMAgentDesktopHost
//
// Main thread: every call, both ways.
#pragma once

#include "agent/log/PMLogView.h"
#include "platform/AlertPresenter.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>

// What the face needs of the agent.
class PMDesktopHost {
public:
    virtual ~PMDesktopHost() = default;

    // The saved "debug" default; setting it saves the defaults.
    virtual bool debugMode() const = 0;
    virtual void setDebugMode(bool on) = 0;

    // The log window became (or stopped being, with null) the place of the log text.
    virtual void attachLogView(PMLogView *view) = 0;
    virtual QString logWindowTitle() const = 0;
    virtual QString logFrameAutosaveName() const = 0;
    // Writes the log file and answers its path.
    virtual QString flushLog() = 0;
    // Empties the log, window included, and leaves an empty file.
    virtual void clearLog() = 0;

    virtual QUrl helpUrl() const = 0;
    // "Select Device": nothing to choose on this platform yet.
    virtual void selectDevice() = 0;
    virtual void quit() = 0;

protected:
    PMDesktopHost() = default;
    PMDesktopHost(const PMDesktopHost &) = default;
    PMDesktopHost &operator=(const PMDesktopHost &) = default;
};

// A sync's plan, shown before it is applied. The models are the agent's and stay alive until
// done has been called; the window stops using them before it calls done.
struct PMSyncPreviewRequest {
    QString driveName;
    // One row per change; a check box (CheckStateRole) in the column that switches a row
    // on or off, and highlightRole (bool) on the cell of the side that will win.
    QAbstractItemModel *changes = nullptr;
    int highlightRole = -1;
    // The files the media filter left out: the file, then why.
    QAbstractItemModel *leftOut = nullptr;
    // A click (single or double) on a cell of changes; the model updates itself.
    std::function<void(const QModelIndex &)> cellClicked;
    // true: apply the plan as it now stands; false: apply nothing. Called exactly once.
    std::function<void(bool apply)> done;
};

// What the agent asks of the face.
class PMDesktopFace {
public:
    virtual ~PMDesktopFace() = default;

    // The windowed application object, made before anything else of Qt.
    virtual std::unique_ptr<QCoreApplication> createApplication(int &argc, char **argv) = 0;
    // Shows the tray icon when the desktop has a tray. The host outlives the face.
    virtual void start(PMDesktopHost &host) = 0;
    // Alerts as dialogs; the worker waits for the answer as with any presenter.
    virtual std::unique_ptr<platform::AlertPresenter> createAlertPresenter() = 0;

    // A drive's progress record, as published on the bus: the tray's icon and tool tip.
    virtual void showActivity(const QVariantMap &progress) = 0;
    virtual void showLogWindow() = 0;
    virtual void hideLogWindow() = 0;
    virtual bool isLogWindowVisible() const = 0;
    // Writes the log file and opens it with the desktop's handler for text files.
    virtual void openLogFile() = 0;
    // Shows a sync's plan in its own window (Apply / Cancel); returns at once.
    virtual void showSyncPreview(PMSyncPreviewRequest request) = 0;
    // Closes every open preview, answering "apply nothing".
    virtual void closeSyncPreviews() = 0;
    // Detaches the log window (its text goes back to the log's buffer) before the face goes.
    virtual void stop() = 0;

protected:
    PMDesktopFace() = default;
    PMDesktopFace(const PMDesktopFace &) = default;
    PMDesktopFace &operator=(const PMDesktopFace &) = default;
};

// The plugin's one exported function: a new face, owned by the caller.
extern "C" {
using PMDesktopFaceFactory = PMDesktopFace *(*)();
}
inline constexpr const char *kPMDesktopFaceFactoryName = "pellmere_create_desktop_face";
