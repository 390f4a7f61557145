// Alerts as dialogs: a sync worker asks, the dialog shows the question with its buttons, and
// the button the user clicks is the worker's answer. A question already open is not asked twice.
#include "agent/desktop/PMDialogAlertPresenter.h"
#include "agent/sync/PMSyncController.h"
#include "platform/PropertyList.h"
#include "support/TestEnvironment.h"

#include "agent/sync/SyncTestDoubles.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <mutex>
#include <optional>

using namespace synctest;

namespace {

const QString kUser = QStringLiteral("0A1B2C3D4E5F-501");

QStringList buttonTexts(const QMessageBox &box)
{
    QStringList texts;
    for (QAbstractButton *button : box.buttons())
        texts.append(button->text().remove(QLatin1Char('&')));
    texts.sort();
    return texts;
}

QAbstractButton *buttonNamed(const QMessageBox &box, const QString &text)
{
    for (QAbstractButton *button : box.buttons()) {
        if (button->text().remove(QLatin1Char('&')) == text)
            return button;
    }
    return nullptr;
}

class DialogAlertTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_drive.isValid());
        const QVariantMap config { { QStringLiteral("config-version"), 3 },
            { QStringLiteral("sync-type"), QStringLiteral("ptop") }, { QStringLiteral("ptop-list"), QVariantMap() },
            { QStringLiteral("sync-user-list"), QVariantList { kUser } },
            { kUser, QVariantMap { { QStringLiteral("local-participate-in-sync"), true } } } };
        ASSERT_TRUE(platform::PropertyList::writeFile(m_drive.filePath(QStringLiteral(".PellmereConfig")), config));
    }

    // The one dialog on screen, once it is there.
    QMessageBox *waitForDialog(const QString &title)
    {
        QMessageBox *found = nullptr;
        testsupport::waitFor([&] {
            for (QMessageBox *box : m_alerts.openDialogs()) {
                if (box->isVisible() && box->windowTitle() == title)
                    found = box;
            }
            return found != nullptr;
        });
        return found;
    }

    QTemporaryDir m_drive;
    RecordingOwner m_owner;
    PhaseScript m_script;
    PMDialogAlertPresenter m_alerts;
};

TEST_F(DialogAlertTest, EachAlertShowsItsQuestionAndAnswersTheWaitingWorkerWithTheClickedButton)
{
    std::mutex answersMutex;
    QList<bool> answers;
    const QString copyText = QStringLiteral("There was a problem copying \"Backup\" (Input/output error).  Do you want "
                                            "to continue with the sync operation?");
    const QString deleteText = QStringLiteral("There was a problem deleting \"Backup\" (Permission denied).  Do you "
                                              "want to continue with the sync operation?");
    const QString wirelessText = QStringLiteral("There was a problem with the connection to the wireless device.");
    m_script.duringItems = [&](PMSyncController &controller) {
        const auto record = [&](bool answer) {
            std::lock_guard lock(answersMutex);
            answers.append(answer);
        };
        record(controller.syncThreadPerformAlert(QStringLiteral("Copy Failed."), copyText, true, true));
        record(controller.syncThreadPerformAlert(QStringLiteral("Delete Failed."), deleteText, true, false));
        record(controller.syncThreadPerformAlert(QStringLiteral("Copy Failed."), wirelessText, false, false));
    };
    PMSyncController controller(m_drive.path(), QStringLiteral("Vendor"), QStringLiteral("UUID-1"), kUser, &m_owner,
        phasesFor(m_script), &m_alerts);
    controller.sync();

    QMessageBox *copy = waitForDialog(QStringLiteral("Copy Failed."));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->text(), QStringLiteral("Copy Failed."));
    EXPECT_EQ(copy->informativeText(), copyText);
    EXPECT_EQ(buttonTexts(*copy),
        (QStringList { QStringLiteral("Cancel"), QStringLiteral("OK"), QStringLiteral("Show Log") }));
    EXPECT_EQ(copy->defaultButton(), buttonNamed(*copy, QStringLiteral("OK")));
    // The log button shows the log and the question stays.
    QTest::mouseClick(buttonNamed(*copy, QStringLiteral("Show Log")), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return m_owner.logShown() == 1; }));
    copy = waitForDialog(QStringLiteral("Copy Failed."));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->informativeText(), copyText);
    {
        std::lock_guard lock(answersMutex);
        EXPECT_TRUE(answers.isEmpty()) << "the worker still waits";
    }
    QTest::mouseClick(buttonNamed(*copy, QStringLiteral("Cancel")), Qt::LeftButton);

    QMessageBox *remove = waitForDialog(QStringLiteral("Delete Failed."));
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->informativeText(), deleteText);
    EXPECT_EQ(buttonTexts(*remove), (QStringList { QStringLiteral("Cancel"), QStringLiteral("OK") }));
    QTest::mouseClick(buttonNamed(*remove, QStringLiteral("OK")), Qt::LeftButton);

    QMessageBox *wireless = nullptr;
    testsupport::waitFor([&] {
        for (QMessageBox *box : m_alerts.openDialogs())
            if (box->isVisible() && box->informativeText() == wirelessText)
                wireless = box;
        return wireless != nullptr;
    });
    ASSERT_NE(wireless, nullptr);
    EXPECT_EQ(buttonTexts(*wireless), (QStringList { QStringLiteral("OK") }));
    // Escape on a question without Cancel is its only answer, OK.
    QTest::keyClick(wireless, Qt::Key_Escape);

    ASSERT_TRUE(testsupport::waitFor([&] {
        std::lock_guard lock(answersMutex);
        return answers.size() == 3;
    }));
    std::lock_guard lock(answersMutex);
    EXPECT_EQ(answers, (QList<bool> { false, true, true }));
}

TEST_F(DialogAlertTest, TheSameQuestionForTheSameDriveIsShownOnceAndAnsweredForEveryAsker)
{
    const platform::AlertRequest busyA { QStringLiteral("Cannot Start Sync."),
        QStringLiteral("The drive \"A\" is already involved in a sync operation.") };
    const platform::AlertRequest busyB { QStringLiteral("Cannot Start Sync."),
        QStringLiteral("The drive \"B\" is already involved in a sync operation.") };
    QList<platform::AlertAnswer> answersA;
    QList<platform::AlertAnswer> answersB;
    m_alerts.present(busyA, [&](platform::AlertAnswer a) { answersA.append(a); }, {});
    m_alerts.present(busyA, [&](platform::AlertAnswer a) { answersA.append(a); }, {});
    m_alerts.present(busyB, [&](platform::AlertAnswer a) { answersB.append(a); }, {});
    ASSERT_EQ(m_alerts.openDialogs().size(), 2u);
    QMessageBox *first = m_alerts.openDialogs().front();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(first));
    EXPECT_EQ(first->informativeText(), busyA.message);
    QTest::mouseClick(buttonNamed(*first, QStringLiteral("OK")), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return answersA.size() == 2; }));
    EXPECT_EQ(answersA, (QList<platform::AlertAnswer> { platform::AlertAnswer::Ok, platform::AlertAnswer::Ok }));
    EXPECT_TRUE(answersB.isEmpty());
    ASSERT_EQ(m_alerts.openDialogs().size(), 1u);
    // Once answered, the same question may be asked again.
    m_alerts.present(busyA, [&](platform::AlertAnswer a) { answersA.append(a); }, {});
    EXPECT_EQ(m_alerts.openDialogs().size(), 2u);
    m_alerts.withdrawAll();
}

TEST_F(DialogAlertTest, WithdrawingAnswersEveryOpenQuestionWithItsSafeAnswerAndClosesIt)
{
    QList<platform::AlertAnswer> answers;
    m_alerts.present(
        { QStringLiteral("Copy Failed."), QStringLiteral("Go on?"), true, true, platform::AlertAnswer::Cancel },
        [&](platform::AlertAnswer a) { answers.append(a); }, {});
    m_alerts.present({ QStringLiteral("Drive Not Synced."), QStringLiteral("Nothing was synced.") },
        [&](platform::AlertAnswer a) { answers.append(a); }, {});
    const std::vector<QMessageBox *> boxes = m_alerts.openDialogs();
    ASSERT_EQ(boxes.size(), 2u);
    QPointer<QMessageBox> box(boxes.front());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    m_alerts.withdrawAll();
    EXPECT_EQ(answers, (QList<platform::AlertAnswer> { platform::AlertAnswer::Cancel, platform::AlertAnswer::Ok }));
    EXPECT_TRUE(m_alerts.openDialogs().empty());
    EXPECT_TRUE(testsupport::waitFor([&] { return box.isNull() || !box->isVisible(); }));
}

} // namespace

// A question whose second button stands for something else than Cancel ("Retry" after a
// failed connection) shows that label; the button still answers Cancel.
TEST_F(DialogAlertTest, ASecondButtonWithALabelOfItsOwnShowsItAndAnswersCancel)
{
    std::optional<platform::AlertAnswer> answer;
    platform::AlertRequest request { QStringLiteral("There was an error connecting to NAS"),
        QStringLiteral("Connection refused"), true, false, platform::AlertAnswer::Ok, QStringLiteral("Retry") };
    m_alerts.present(request, [&](platform::AlertAnswer given) { answer = given; }, {});

    QMessageBox *box = waitForDialog(request.title);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->informativeText(), request.message);
    EXPECT_EQ(buttonTexts(*box), (QStringList { QStringLiteral("OK"), QStringLiteral("Retry") }));
    EXPECT_EQ(box->defaultButton(), buttonNamed(*box, QStringLiteral("OK")));
    QTest::mouseClick(buttonNamed(*box, QStringLiteral("Retry")), Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitFor([&] { return answer.has_value(); }));
    EXPECT_EQ(*answer, platform::AlertAnswer::Cancel);
}
