// The software update window: how often Pellmere looks for a new version, a Check Now
// button, the alerts that offer what the update service found, and a progress sheet that
// follows the download, unpacking and hand-over.
//
//   LUMSoftwareUpdateWindowController updates(LUMAutoUpdate::shared());
//   updates.initialCheckForUpdate();   // at start: offers an update an earlier check found
//   updates.showWindow();              // the menu item
//
// The check runs on a worker thread; everything else on the main thread. Every control is
// reachable with the keyboard and carries an accessible name.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>
#include <QWidget>

#include <functional>

class LUMAutoUpdate;
class QComboBox;
class QDialog;
class QLabel;

class QProgressBar;
class QPushButton;
class QThread;

class LUMSoftwareUpdateWindowController : public QWidget {
    Q_OBJECT

public:
    // Where the window's frame is kept between runs.
    static inline const QString kFrameKey = QStringLiteral("LUMSoftwareUpdateWindow");

    // autoUpdate may be null (the library could not be set up): the window then only says so.
    explicit LUMSoftwareUpdateWindowController(LUMAutoUpdate *autoUpdate, QWidget *parent = nullptr);
    ~LUMSoftwareUpdateWindowController() override;

    // Opens web pages (the URL-type update, More Info...); the desktop's browser by default.
    void setUrlOpener(std::function<bool(const QUrl &)> opener) { m_openUrl = std::move(opener); }

    void showWindow();
    void initialCheckForUpdate();
    // The check from the window (fromApplication false) or on the application's behalf, which
    // closes the window silently when nothing is found.
    void checkForUpdate(bool fromApplication);

    // The controls, for tests and assistive technology.
    QComboBox *intervalPopUp() const { return m_interval; }
    QPushButton *checkButton() const { return m_checkButton; }
    QProgressBar *checkProgressIndicator() const { return m_checkProgress; }
    QDialog *progressSheet() const { return m_panel; }
    QLabel *progressText() const { return m_text; }
    QProgressBar *downloadProgressIndicator() const { return m_downloadProgress; }
    QPushButton *abortButton() const { return m_abort; }
    // The alert shown now, if any.
    QMessageBox *currentAlert() const { return m_alert; }

Q_SIGNALS:
    // A check ended: the offered update, or an empty map.
    void checkCompleted(const QVariantMap &updateInfo);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void buildSheet();
    void onCheckCompleted(const QVariantMap &updateInfo);
    void offerUpdate();
    void onAlertAnswer(const QVariantMap &info, int answer);
    void startDownload();
    void showAlert(const QString &message, const QString &informative, const QStringList &buttons,
        std::function<void(int)> onAnswer);
    void endSheet(int returnCode);
    void setIndeterminate(bool animating);
    void showLastCheck();
    void connectNotifications();

    LUMAutoUpdate *m_autoUpdate;
    std::function<bool(const QUrl &)> m_openUrl;
    QComboBox *m_interval = nullptr;
    QPushButton *m_checkButton = nullptr;
    QProgressBar *m_checkProgress = nullptr;
    QLabel *m_status = nullptr;
    QDialog *m_panel = nullptr;
    QLabel *m_text = nullptr;
    QProgressBar *m_downloadProgress = nullptr;
    QPushButton *m_abort = nullptr;
    QPointer<QMessageBox> m_alert;
    QThread *m_checkThread = nullptr;
    bool m_fromApplication = false;
    bool m_determinate = false;
};
