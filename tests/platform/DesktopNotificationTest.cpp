// Desktop notifications against a real notification server (dunst on a private X display and
// a private session bus), and against a bus with no server on it.
#include "platform/DesktopNotification.h"
#include "support/NotificationServer.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QPixmap>
#include <QStringList>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using test::NotificationServer;
using test::XServer;

constexpr int kTimeoutMs = 10000;

// What a notification object has reported.
struct Reports {
    explicit Reports(DesktopNotification& notification) {
        QObject::connect(&notification, &DesktopNotification::Unavailable,
                         [this](const QString& reason) { unavailable << reason; });
        QObject::connect(&notification, &DesktopNotification::DefaultAction, [this] { ++chosen; });
    }
    QStringList unavailable;
    int chosen = 0;
};

QIcon Picture() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkBlue);
    return QIcon(pixmap);
}

class DesktopNotificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        POSTLARK_REQUIRE_PROGRAMS(XServer::missingPrograms({}) +
                                  NotificationServer::missingPrograms());
    }
    test::TestEnvironment env_;
};

TEST_F(DesktopNotificationTest, ShowsThenReplacesItsNotificationAndReportsTheDefaultAction) {
    XServer x({});
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();
    NotificationServer server(&x);
    ASSERT_TRUE(server.failure().isEmpty()) << server.failure().toStdString();

    DesktopNotification notification("Postlark", "org.postlark.Postlark", Picture(),
                                     server.busAddress());
    Reports reports(notification);
    notification.Show("New mail", "a@example.org: 1 new");
    ASSERT_TRUE(server.waitForReceived(1, kTimeoutMs));
    auto received = server.received();
    EXPECT_EQ(received[0].appName, "Postlark");
    EXPECT_EQ(received[0].summary, "New mail");
    EXPECT_EQ(received[0].body, "a@example.org: 1 new");
    EXPECT_TRUE(received[0].picture);
    ASSERT_TRUE(XServer::waitUntil([&] { return notification.Id() != 0; }, kTimeoutMs));
    EXPECT_EQ(notification.Id(), received[0].id);

    // The next one takes the place of the first; markup characters arrive as text.
    notification.Show("New mail", "a@example.org: 2 new\nb&c@example.org: 1 new");
    ASSERT_TRUE(server.waitForReceived(2, kTimeoutMs));
    received = server.received();
    EXPECT_EQ(received[1].id, received[0].id);
    EXPECT_EQ(received[1].body, "a@example.org: 2 new\nb&amp;c@example.org: 1 new");

    ASSERT_TRUE(server.invokeDefaultAction());
    EXPECT_TRUE(XServer::waitUntil([&] { return reports.chosen == 1; }, kTimeoutMs));
    EXPECT_TRUE(reports.unavailable.isEmpty());
}

TEST_F(DesktopNotificationTest, AServerThatReadsNoMarkupGetsTheTextAsItIs) {
    XServer x({});
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();
    NotificationServer server(&x, false);
    ASSERT_TRUE(server.failure().isEmpty()) << server.failure().toStdString();
    DesktopNotification notification("Postlark", "org.postlark.Postlark", Picture(),
                                     server.busAddress());
    notification.Show("New mail", "b&c@example.org: 1 new");
    ASSERT_TRUE(server.waitForReceived(1, kTimeoutMs));
    EXPECT_EQ(server.received()[0].body, "b&c@example.org: 1 new");
}

TEST_F(DesktopNotificationTest, WithoutAServerEachShowIsReportedAndNothingElseHappens) {
    NotificationServer bus(nullptr);
    ASSERT_TRUE(bus.failure().isEmpty()) << bus.failure().toStdString();
    DesktopNotification notification("Postlark", "org.postlark.Postlark", Picture(),
                                     bus.busAddress());
    Reports reports(notification);
    notification.Show("New mail", "a@example.org: 1 new");
    notification.Show("New mail", "a@example.org: 2 new"); // waits for the first to end
    ASSERT_TRUE(XServer::waitUntil([&] { return reports.unavailable.size() == 2; }, kTimeoutMs));
    EXPECT_FALSE(reports.unavailable[0].isEmpty());
    EXPECT_EQ(notification.Id(), 0u);
}

TEST_F(DesktopNotificationTest, ABusThatCannotBeReachedIsReportedToo) {
    DesktopNotification notification("Postlark", "org.postlark.Postlark", Picture(),
                                     "unix:path=/nonexistent/postlark-test-no-bus");
    Reports reports(notification);
    notification.Show("New mail", "a@example.org: 1 new");
    EXPECT_TRUE(XServer::waitUntil([&] { return reports.unavailable.size() == 1; }, kTimeoutMs));
}

} // namespace
} // namespace postlark
