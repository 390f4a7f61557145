// The manager's main window: the drive list on the left, and for the selected drive the sync
// plan, the sync list with its add and remove buttons, the default-folders and category
// boxes, the device filter, the participation switch, the sync-now/stop button and the
// activity box (progress, success or failure). It shows what the controller says and hands
// the user's choices to it; it decides nothing itself.
//
// Every control can be reached with the keyboard in reading order and carries an accessible
// name; colours come from the desktop's palette.
//
// Main thread.
#pragma once

#include <QMainWindow>

class LUMApplicationController;
class LUMCopyImageView;
class LUMCustomProgressIndicator;
class LUMFadeBox;
class LUMGradientView;
class LUMOnOffButton;
class LUMSyncButton;
class LUMSyncHistoryDialog;
class LUMTableView;
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class QRadioButton;

class LUMMainWindow : public QMainWindow {
    Q_OBJECT

public:
    static inline const QString kSupportPage = QStringLiteral("https://www.corvane.com/support/pellmere");
    // Where the window's frame is kept between runs (the application's QSettings).
    static inline const QString kFrameKey = QStringLiteral("LUMApplicationWindow");

    explicit LUMMainWindow(LUMApplicationController &controller, QWidget *parent = nullptr);

    // The controls, for keyboard and assistive-technology users' sake named; tests drive them.
    QListView *volumeList() const { return m_volumeList; }
    QRadioButton *planButton(int plan) const;
    LUMTableView *syncPathsTable() const { return m_syncPathsTable; }
    QPushButton *addButton() const { return m_addButton; }
    QPushButton *removeButton() const { return m_removeButton; }
    QCheckBox *defaultFoldersBox() const { return m_defaultFolders; }
    QCheckBox *musicBox() const { return m_music; }
    QCheckBox *moviesBox() const { return m_movies; }
    QCheckBox *picturesBox() const { return m_pictures; }
    QCheckBox *documentsBox() const { return m_documents; }
    QComboBox *deviceFilterPopUp() const { return m_deviceFilters; }
    LUMOnOffButton *participationSwitch() const { return m_participation; }
    LUMSyncButton *syncNowButton() const { return m_syncNow; }
    QPushButton *historyButton() const { return m_historyButton; }
    LUMFadeBox *activityBox() const { return m_activityBox; }
    QWidget *progressSection() const { return m_progressSection; }
    QWidget *successSection() const { return m_successSection; }
    QWidget *failureSection() const { return m_failureSection; }
    LUMCustomProgressIndicator *progressBar() const { return m_progressBar; }
    QLabel *progressText() const { return m_progressText; }
    QLabel *successText() const { return m_successText; }
    QLabel *failureText() const { return m_failureText; }
    LUMSyncHistoryDialog *historyDialog() const { return m_history; }

    // Adds paths chosen by the user to the sync list (the add button's dialog ends here).
    void addChosenPaths(const QStringList &paths);

Q_SIGNALS:
    // The user chose "Check for Software Update…" in the menu.
    void softwareUpdateRequested();

public Q_SLOTS:
    void refresh();
    void showHistory();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    QWidget *buildDrivePane();
    QWidget *buildActivityBox();
    void chooseFolderToAdd();
    void applyButtonState();
    void refreshActivity();

    LUMApplicationController &m_controller;
    LUMGradientView *m_header = nullptr;
    QLabel *m_driveTitle = nullptr;
    QListView *m_volumeList = nullptr;
    QButtonGroup *m_planGroup = nullptr;
    LUMTableView *m_syncPathsTable = nullptr;
    QPushButton *m_addButton = nullptr;
    QPushButton *m_removeButton = nullptr;
    QCheckBox *m_defaultFolders = nullptr;
    QCheckBox *m_music = nullptr;
    QCheckBox *m_movies = nullptr;
    QCheckBox *m_pictures = nullptr;
    QCheckBox *m_documents = nullptr;
    QComboBox *m_deviceFilters = nullptr;
    LUMOnOffButton *m_participation = nullptr;
    LUMSyncButton *m_syncNow = nullptr;
    QPushButton *m_historyButton = nullptr;
    LUMFadeBox *m_activityBox = nullptr;
    QWidget *m_progressSection = nullptr;
    QWidget *m_successSection = nullptr;
    QWidget *m_failureSection = nullptr;
    LUMCustomProgressIndicator *m_progressBar = nullptr;
    QLabel *m_progressText = nullptr;
    LUMCopyImageView *m_copyImage = nullptr;
    QLabel *m_successText = nullptr;
    QLabel *m_failureText = nullptr;
    LUMSyncHistoryDialog *m_history = nullptr;
};
