// The alert about a network device that could not be reached: what it asks, what each button
// does, and the shared preference that silences it (read from the real preference file each
// time, as the manager may change it while the agent runs).
#include "agent/app/PMConnectionErrorAlert.h"
#include "platform/CommonPreferences.h"
#include "support/ScriptedAlertPresenter.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ConnectionErrorAlertTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_folder.isValid()); }

    platform::CommonPreferences preferences() const
    {
        return platform::CommonPreferences(m_folder.filePath(QStringLiteral("corvane/com.corvane.common.plist")));
    }

    QTemporaryDir m_folder;
    testsupport::ScriptedAlertPresenter m_alerts;
    int m_retries = 0;
};

TEST_F(ConnectionErrorAlertTest, AsksWithTheDeviceAndTheReasonAndRetriesOnlyOnRetry)
{
    PMConnectionErrorAlert alert(m_alerts, preferences());
    m_alerts.appendAnswer(platform::AlertAnswer::Ok);
    m_alerts.appendAnswer(platform::AlertAnswer::Cancel);

    // OK: nothing more.
    alert.show(QStringLiteral("Living Room NAS"), QStringLiteral("Connection refused"), [this] { ++m_retries; });
    ASSERT_TRUE(testsupport::waitFor([this] { return m_alerts.requests().size() == 1; }));
    const platform::AlertRequest asked = m_alerts.requests().first();
    EXPECT_EQ(asked.title, QStringLiteral("There was an error connecting to Living Room NAS"));
    EXPECT_EQ(asked.message, QStringLiteral("Connection refused"));
    EXPECT_TRUE(asked.cancelButton);
    EXPECT_EQ(asked.cancelLabel, QStringLiteral("Retry"));
    // Nobody to ask means no retry: it could fail the same way for ever.
    EXPECT_EQ(asked.safeAnswer, platform::AlertAnswer::Ok);

    // Retry: the caller's function, once.
    alert.show(QStringLiteral("Living Room NAS"), QStringLiteral("Connection refused"), [this] { ++m_retries; });
    ASSERT_TRUE(testsupport::waitFor([this] { return m_retries == 1; }));
    EXPECT_EQ(m_alerts.requests().size(), 2);
    QCoreApplication::processEvents();
    EXPECT_EQ(m_retries, 1);
}

TEST_F(ConnectionErrorAlertTest, SilencedNetworkAlertsRetryAtOnceWithoutAsking)
{
    PMConnectionErrorAlert alert(m_alerts, preferences());
    ASSERT_TRUE(preferences().setSilenceNetworkAlerts(true));
    alert.show(QStringLiteral("Living Room NAS"), QStringLiteral("Connection refused"), [this] { ++m_retries; });
    EXPECT_EQ(m_retries, 1);
    EXPECT_TRUE(m_alerts.requests().isEmpty());

    // Turned off again (by the manager, while the agent runs): the next failure asks.
    ASSERT_TRUE(preferences().setSilenceNetworkAlerts(false));
    alert.show(QStringLiteral("Living Room NAS"), QStringLiteral("Connection refused"), [this] { ++m_retries; });
    ASSERT_TRUE(testsupport::waitFor([this] { return m_alerts.requests().size() == 1; }));
    EXPECT_EQ(m_retries, 1);
}

} // namespace
