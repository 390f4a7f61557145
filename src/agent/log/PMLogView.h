// What the log controller needs of a log window: a text area it can fill and append to.
//
// The agent often runs without any window; then no view is attached and the controller's
// buffer is the only place of the log text. A window implementation (tray menu and log
// window) attaches itself with PMLogController::attachView(). All calls arrive on the thread
// the view object lives on (the main thread).
#pragma once

#include <QString>

class PMLogView {
public:
    virtual ~PMLogView() = default;

    virtual QString text() const = 0;
    virtual void setText(const QString &text) = 0;
    // Appends at the end and scrolls so that the end is visible.
    virtual void appendText(const QString &text) = 0;
    virtual bool isVisible() const = 0;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual void setTitle(const QString &title) = 0;
};
