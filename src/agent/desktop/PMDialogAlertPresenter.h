// Shows the agent's alerts as dialogs: the title as the window title and the headline, the
// message below it, "OK" (the default button), "Cancel" when the request has one and
// "Show Log" when it has a log button. The log button calls showLog and leaves the dialog
// open; OK and Cancel answer. Closing the dialog otherwise answers Cancel when there is one,
// else OK.
//
// Dialogs are not modal loops: present() returns at once and the answer comes later from the
// event loop, so the main thread keeps serving the bus and the log while a worker waits.
// A question already on screen (same title and message, which name the drive) is not shown a
// second time: the later request joins the open dialog and gets the same answer.
//
// Threads: main thread only, like every AlertPresenter.
#pragma once

#include "platform/AlertPresenter.h"

#include <QObject>

#include <map>
#include <memory>
#include <vector>

class QAbstractButton;
class QMessageBox;

class PMDialogAlertPresenter : public QObject, public platform::AlertPresenter {
    Q_OBJECT

public:
    explicit PMDialogAlertPresenter(QObject *parent = nullptr);
    // Answers every open request with its safe answer and closes the dialogs.
    ~PMDialogAlertPresenter() override;

    void present(const platform::AlertRequest &request, std::function<void(platform::AlertAnswer)> done,
        std::function<void()> showLog) override;
    void withdrawAll() override;

    // The dialogs on screen, oldest first (tests and screenshots).
    std::vector<QMessageBox *> openDialogs() const;

private:
    struct Open {
        platform::AlertRequest request;
        std::vector<std::function<void(platform::AlertAnswer)>> waiting;
        std::function<void()> showLog;
        QMessageBox *box = nullptr;
        QAbstractButton *okButton = nullptr;
        QAbstractButton *cancelButton = nullptr;
        QAbstractButton *logButton = nullptr;
    };

    void onFinished(quint64 key);
    void answer(quint64 key, platform::AlertAnswer answer);

    quint64 m_nextKey = 1;
    std::map<quint64, Open> m_open;
};
