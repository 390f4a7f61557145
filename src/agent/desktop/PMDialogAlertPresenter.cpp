#include "agent/desktop/PMDialogAlertPresenter.h"

#include <QAbstractButton>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>

Q_LOGGING_CATEGORY(lcDialogAlert, "pellmere.alert")

PMDialogAlertPresenter::PMDialogAlertPresenter(QObject *parent)
    : QObject(parent)
{
}

PMDialogAlertPresenter::~PMDialogAlertPresenter()
{
    withdrawAll();
}

void PMDialogAlertPresenter::present(const platform::AlertRequest &request,
    std::function<void(platform::AlertAnswer)> done, std::function<void()> showLog)
{
    for (auto &[key, open] : m_open) {
        if (open.request.title == request.title && open.request.message == request.message) {
            open.waiting.push_back(std::move(done));
            if (!open.showLog)
                open.showLog = std::move(showLog);
            open.box->raise();
            return;
        }
    }

    const quint64 key = m_nextKey++;
    Open &open = m_open[key];
    open.request = request;
    open.waiting.push_back(std::move(done));
    open.showLog = std::move(showLog);

    auto *box = new QMessageBox(
        request.cancelButton ? QMessageBox::Warning : QMessageBox::Information, request.title, request.title);
    box->setInformativeText(request.message);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    open.box = box;
    open.okButton = box->addButton(QMessageBox::Ok);
    if (request.cancelButton) {
        open.cancelButton = request.cancelLabel.isEmpty()
            ? box->addButton(QMessageBox::Cancel)
            : box->addButton(request.cancelLabel, QMessageBox::RejectRole);
    }
    if (request.logButton)
        open.logButton = box->addButton(tr("Show Log"), QMessageBox::ActionRole);
    box->setDefaultButton(static_cast<QPushButton *>(open.okButton));
    box->setEscapeButton(open.cancelButton ? open.cancelButton : open.okButton);
    connect(box, &QMessageBox::finished, this, [this, key](int) { onFinished(key); });
    qCInfo(lcDialogAlert).noquote() << QStringLiteral("Alert \"%1\": %2").arg(request.title, request.message);
    box->open();
}

void PMDialogAlertPresenter::onFinished(quint64 key)
{
    const auto it = m_open.find(key);
    if (it == m_open.end())
        return;
    Open &open = it->second;
    QAbstractButton *clicked = open.box->clickedButton();
    if (clicked && clicked == open.logButton) {
        // The log button shows the log; the question still waits for OK or Cancel. The box
        // deletes itself on close, so the same question is asked again in a new one.
        const platform::AlertRequest request = open.request;
        std::vector<std::function<void(platform::AlertAnswer)>> waiting = std::move(open.waiting);
        std::function<void()> showLog = open.showLog;
        m_open.erase(it);
        if (showLog)
            showLog();
        for (std::size_t i = 0; i < waiting.size(); ++i)
            present(request, std::move(waiting[i]), i == 0 ? showLog : std::function<void()>());
        return;
    }
    const bool ok = clicked ? clicked == open.okButton : !open.cancelButton;
    answer(key, ok ? platform::AlertAnswer::Ok : platform::AlertAnswer::Cancel);
}

void PMDialogAlertPresenter::answer(quint64 key, platform::AlertAnswer answer)
{
    const auto it = m_open.find(key);
    if (it == m_open.end())
        return;
    const std::vector<std::function<void(platform::AlertAnswer)>> waiting = std::move(it->second.waiting);
    qCInfo(lcDialogAlert).noquote() << QStringLiteral("Alert \"%1\" answered %2")
                                           .arg(it->second.request.title,
                                               answer == platform::AlertAnswer::Ok ? QStringLiteral("OK")
                                                                                   : QStringLiteral("Cancel"));
    m_open.erase(it);
    for (const auto &done : waiting) {
        if (done)
            done(answer);
    }
}

void PMDialogAlertPresenter::withdrawAll()
{
    while (!m_open.empty()) {
        const auto it = m_open.begin();
        const quint64 key = it->first;
        QMessageBox *box = it->second.box;
        const platform::AlertAnswer safe
            = it->second.request.cancelButton ? it->second.request.safeAnswer : platform::AlertAnswer::Ok;
        answer(key, safe);
        if (box) {
            box->disconnect(this);
            box->close();
        }
    }
}

std::vector<QMessageBox *> PMDialogAlertPresenter::openDialogs() const
{
    std::vector<QMessageBox *> boxes;
    for (const auto &[key, open] : m_open)
        boxes.push_back(open.box);
    return boxes;
}
