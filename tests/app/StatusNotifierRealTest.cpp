// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's tray icon where the desktop hosts icons through StatusNotifierItem: a
// private session bus (dbus-daemon started here) with a StatusNotifierWatcher stand-in in this
// process, and the window in a child program on a private X display using that bus. The icon
// registers itself with the watcher; the test calls the item's own D-Bus methods, as a desktop
// panel does.
#include "store/SettingsStore.h"
#include "support/ProbeProcess.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

namespace postlark {
namespace {

using test::Ask;
using test::NextLine;
using test::XServer;

constexpr int kTimeoutMs = test::kProbeTimeoutMs;

// A private session bus for the lifetime of the object.
class SessionBus {
public:
    SessionBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        XServer::waitUntil([&] { return daemon_.canReadLine() || !daemon_.isOpen(); }, kTimeoutMs);
        address_ = QString::fromLocal8Bit(daemon_.readLine()).trimmed();
    }
    ~SessionBus() {
        QDBusConnection::disconnectFromBus("watcher");
        daemon_.terminate();
        daemon_.waitForFinished(3000);
    }
    QString address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

} // namespace

// Stands in for the desktop panel's watcher: it says a host is present and records the items
// that register.
class WatcherStandIn : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
public:
    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }
    QStringList RegisteredStatusNotifierItems() const { return items; }
    QStringList items;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items << service; }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierHostRegistered();
};

namespace {

TEST(StatusNotifierReal, ActivateBringsTheWindowBackAndContextMenuOpensTheFileMenu) {
    const XServer::Options options{.windowManager = false, .trayHost = false};
    if (const QString missing = XServer::missingPrograms(options); !missing.isEmpty())
        GTEST_SKIP() << missing.toStdString();
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
        GTEST_SKIP() << "not installed: dbus-daemon";
    test::TestEnvironment env;
    XServer x(options);
    ASSERT_TRUE(x.failure().isEmpty()) << x.failure().toStdString();
    SessionBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";

    QDBusConnection connection = QDBusConnection::connectToBus(bus.address(), "watcher");
    ASSERT_TRUE(connection.isConnected());
    WatcherStandIn watcher;
    ASSERT_TRUE(connection.registerObject("/StatusNotifierWatcher", &watcher,
                                          QDBusConnection::ExportAllContents));
    ASSERT_TRUE(connection.registerService("org.kde.StatusNotifierWatcher"));

    SettingsStore::SaveValue("StartMinimized", "1");
    QProcess probe;
    QProcessEnvironment vars = x.environment();
    vars.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    probe.setProcessEnvironment(vars);
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(POSTLARK_FORM_PROBE);
    ASSERT_EQ(NextLine(probe), "loaded");
    ASSERT_TRUE(XServer::waitUntil([&] { return !watcher.items.isEmpty(); }, kTimeoutMs))
        << "the icon did not register with the watcher";
    EXPECT_TRUE(Ask(probe, "state").startsWith("state 0 0 1")); // hidden, icon shown

    const auto callItem = [&](const char* method) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            watcher.items.last(), "/StatusNotifierItem", "org.kde.StatusNotifierItem", method);
        call << 10 << 10;
        connection.asyncCall(call);
    };

    callItem("ContextMenu");
    EXPECT_TRUE(NextLine(probe).startsWith("menu ")) << "the File menu did not open";
    x.run("xdotool", {"key", "Escape"});

    callItem("Activate");
    EXPECT_TRUE(XServer::waitUntil([&] { return Ask(probe, "state").startsWith("state 1 1 0"); },
                                   kTimeoutMs))
        << "an activation did not bring the window back";

    probe.kill();
    probe.waitForFinished(kTimeoutMs);
}

} // namespace
} // namespace postlark

#include "StatusNotifierRealTest.moc"
