// The log window: a read-only, selectable text view that holds the whole agent log once it
// is attached to the log (from then on the log's buffer is empty and lines go here).
//
//   PMLogWindow window(QStringLiteral("com.corvane.pellmere.log"));
//   host.attachLogView(&window);      // the buffered text moves in
//   window.show();
//   window.askToClear([&] { host.clearLog(); });
//
// The window's frame is saved under its autosave name whenever it moves, is resized or is
// hidden, and restored when the window is made. Closing the window only hides it.
//
// Main thread only (the log controller brings lines from other threads here).
#pragma once

#include "agent/log/PMLogView.h"

#include <QWidget>

#include <functional>

class QMessageBox;
class QPlainTextEdit;

class PMLogWindow : public QWidget, public PMLogView {
    Q_OBJECT

public:
    explicit PMLogWindow(const QString &frameAutosaveName, QWidget *parent = nullptr);
    ~PMLogWindow() override;

    // PMLogView
    QString text() const override;
    void setText(const QString &text) override;
    void appendText(const QString &text) override;
    bool isVisible() const override;
    void show() override;
    void hide() override;
    void setTitle(const QString &title) override;

    // Asks "Are you sure you want to clear the log file?" (a sheet on this window when it is
    // visible, else a panel of its own) and calls clear on "Yes". Never blocks.
    void askToClear(std::function<void()> clear);
    // The open question, if any (tests and screenshots).
    QMessageBox *clearQuestion() const { return m_clearQuestion; }

    QPlainTextEdit *textView() const { return m_text; }

protected:
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void saveFrame() const;
    void restoreFrame();
    void scrollToEnd();

    QString m_frameAutosaveName;
    QPlainTextEdit *m_text = nullptr;
    QMessageBox *m_clearQuestion = nullptr;
    bool m_frameRestored = false;
};
