// SPDX-License-Identifier: GPL-3.0-or-later
// Desktop notifications against a real notification server (dunst on a private X display and
// a private session bus), and against a bus with no server on it.
#include "platform/shell/DesktopNotification.h"
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
    }
    QStringList unavailable;
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

// A second Show made before the server has answered the first waits for the first's id, so it
// still replaces it. (What the program sends, and the default action, are tested through the
// main window.)
TEST_F(DesktopNotificationTest, ARapidSecondShowReplacesTheFirstAndMarkupIsEscaped) {
    XServer x({});
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();
    NotificationServer server(&x);
    ASSERT_TRUE(server.failure().isEmpty()) << server.failure().toStdString();
    DesktopNotification notification("Postlark", "org.postlark.Postlark", Picture(),
                                     server.busAddress());
    Reports reports(notification);
    notification.Show("New mail", "a@example.org: 1 new");
    notification.Show("New mail", "a@example.org: 2 new\nb&c@example.org: 1 new", true);
    ASSERT_TRUE(server.waitForReceived(2, kTimeoutMs));
    const auto received = server.received();
    EXPECT_EQ(received[1].id, received[0].id);
    EXPECT_EQ(received[1].body, "a@example.org: 2 new\nb&amp;c@example.org: 1 new");
    EXPECT_TRUE(received[1].picture);
    EXPECT_EQ(received[0].actions, QStringList{"default"});
    EXPECT_EQ(received[1].actions, QStringList({"default", "open"})) << "the server offers actions";
    ASSERT_TRUE(XServer::waitUntil([&] { return notification.Id() != 0; }, kTimeoutMs));
    EXPECT_EQ(notification.Id(), received[0].id);
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

TEST_F(DesktopNotificationTest, WithoutAServerOrWithoutABusEachShowIsReported) {
    NotificationServer bus(nullptr);
    ASSERT_TRUE(bus.failure().isEmpty()) << bus.failure().toStdString();
    for (const QString& address :
         {bus.busAddress(), QStringLiteral("unix:path=/nonexistent/postlark-test-no-bus")}) {
        DesktopNotification notification("Postlark", "org.postlark.Postlark", Picture(), address);
        Reports reports(notification);
        notification.Show("New mail", "a@example.org: 1 new");
        notification.Show("New mail", "a@example.org: 2 new"); // waits for the first to end
        ASSERT_TRUE(XServer::waitUntil([&] { return reports.unavailable.size() == 2; }, kTimeoutMs))
            << address.toStdString();
        EXPECT_FALSE(reports.unavailable[0].isEmpty());
        EXPECT_EQ(notification.Id(), 0u);
    }
}

} // namespace
} // namespace postlark
