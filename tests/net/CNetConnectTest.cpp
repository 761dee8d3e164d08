// SPDX-License-Identifier: GPL-3.0-or-later
// The connection probe with the system's connection flags replaced, opening test sites served
// by local HTTP servers on 127.0.0.1 (never the defaults: the test machines have no Internet).
#include "net/CNetConnect.h"
#include "net/MWinInetErrors.h"
#include "platform/base/LastError.h"
#include "platform/net/WinInet.h"
#include "support/ScriptedServer.h"

#include <QElapsedTimer>
#include <QPaintEvent>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using test::ScriptedServer;
using win::DWORD;

constexpr DWORD kModem = win::INTERNET_CONNECTION_MODEM;
constexpr DWORD kBusy = win::INTERNET_CONNECTION_MODEM_BUSY;
constexpr DWORD kLan = win::INTERNET_CONNECTION_LAN;
constexpr DWORD kProxy = win::INTERNET_CONNECTION_PROXY;

ScriptedServer::Script Answer(const QByteArray& statusLine = "HTTP/1.1 200 OK") {
    return ScriptedServer::Script()
        .expectLine()
        .send(statusLine + "\r\nContent-Length: 0\r\n\r\n")
        .closeConnection();
}

QString Site(const ScriptedServer& server) {
    return QStringLiteral("http://127.0.0.1:%1/").arg(server.port());
}

// A port nobody listens on.
QString RefusedSite() {
    ScriptedServer gone;
    return Site(gone);
}

class CNetConnectTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("no_proxy", "127.0.0.1,localhost");
        System(0, false);
    }
    void TearDown() override {
        win::SetConnectedStateSource({});
        win::SetInternetRequestLimit(std::chrono::seconds(10));
        qunsetenv("no_proxy");
    }
    // What the operating system reports from now on.
    void System(DWORD flags, bool result) {
        win::SetConnectedStateSource([flags, result](DWORD* f) {
            *f = flags;
            return result ? win::TRUE_ : win::FALSE_;
        });
    }
};

TEST_F(CNetConnectTest, LanProxyAndBusyModemAreProvedByTheTestSites) {
    ScriptedServer first(Answer()), second(Answer("HTTP/1.1 404 Not Found"));
    CNetConnect net;
    net.KnownTestSites() = {RefusedSite(), Site(second), Site(first)};

    struct Case {
        DWORD flags;
        const char* desc;
    };
    for (const Case c :
         {Case{kLan, "LAN"}, Case{kProxy, "Proxy Server"}, Case{kModem | kBusy, "Modem (Busy)"},
          Case{kLan | kProxy, "LAN"}, Case{kModem | kBusy | kLan, "Modem (Busy)"}}) {
        // The system's "not connected" is overruled by a site that answers...
        System(c.flags, false);
        EXPECT_TRUE(net.Connected()) << c.desc;
        EXPECT_EQ(net.ConnectModeDesc(), c.desc);
        EXPECT_EQ(net.ConnectMode(), std::int32_t(c.flags));
    }
    // ...sites are tried in order, and the first answer ends the search.
    EXPECT_GT(second.connectionCount(), 0);
    EXPECT_EQ(first.connectionCount(), 0);

    // ...and its "connected" by sites that all fail.
    net.KnownTestSites() = {RefusedSite(), RefusedSite()};
    System(kLan, true);
    EXPECT_FALSE(net.Connected());
    EXPECT_EQ(net.ConnectModeDesc(), "LAN");
    net.KnownTestSites().clear();
    for (DWORD flags : {kLan, kProxy, kModem | kBusy}) {
        System(flags, true);
        EXPECT_FALSE(net.Connected()) << flags;
    }
}

TEST_F(CNetConnectTest, AModemThatIsNotBusyIsTakenAtTheSystemsWord) {
    ScriptedServer site(Answer());
    CNetConnect net;
    net.KnownTestSites() = {Site(site)};
    System(kModem, true);
    EXPECT_TRUE(net.Connected());
    EXPECT_EQ(net.ConnectModeDesc(), "Modem");
    System(kModem | kLan, false);
    EXPECT_FALSE(net.Connected());
    EXPECT_EQ(site.connectionCount(), 0) << "no page is requested for an idle modem";
}

TEST_F(CNetConnectTest, NoKnownKindKeepsTheTextAndTheSystemsAnswer) {
    ScriptedServer site(Answer());
    CNetConnect net;
    EXPECT_EQ(net.KnownTestSites().size(), 2) << "the two defaults";
    EXPECT_EQ(net.ConnectModeDesc(), "") << "empty on a new object";
    net.KnownTestSites() = {Site(site)};
    System(kLan, true);
    EXPECT_EQ(net.ConnectModeDesc(), "LAN");
    System(0x20, true); // a bit the probe does not know
    EXPECT_TRUE(net.Connected());
    EXPECT_EQ(net.ConnectModeDesc(), "LAN");
    EXPECT_EQ(net.ConnectMode(), 0x20);
    System(0, false);
    EXPECT_FALSE(net.Connected());
    EXPECT_EQ(site.connectionCount(), 1) << "only the LAN read opened the site";
}

TEST_F(CNetConnectTest, DialAndHangUpOnlyAskTheSystemWhenTheyHaveTo) {
    ScriptedServer site(Answer());
    CNetConnect net;
    net.KnownTestSites() = {Site(site)};

    // Already connected: no dialling (the system would have set its last error).
    System(kLan, true);
    win::SetLastError(0);
    EXPECT_FALSE(net.Dial(0));
    EXPECT_EQ(win::GetLastError(), 0u);
    // Not connected: the system is asked, and this one has no autodial.
    System(0, false);
    EXPECT_FALSE(net.Dial(2));
    EXPECT_EQ(win::GetLastError(), win::ERROR_NOT_SUPPORTED);

    win::SetLastError(0);
    EXPECT_FALSE(net.HangUp());
    EXPECT_EQ(win::GetLastError(), 0u) << "nothing to hang up";
    System(kModem, true);
    EXPECT_FALSE(net.HangUp());
    EXPECT_EQ(win::GetLastError(), win::ERROR_NOT_SUPPORTED);
}

TEST_F(CNetConnectTest, ErrorTextIsTheLastResponseOrTheCode) {
    win::ForgetLastInternetResponse();
    EXPECT_EQ(WinInetErrorText(12029), "Error Code 12029 not defined.");
    EXPECT_EQ(WinInetErrorText(-5), "Error Code -5 not defined.");

    // The module's buffer grows for a longer response and is reused for shorter ones.
    CNetConnect net;
    System(kLan, true);
    for (const QByteArray status : {"HTTP/1.1 200 OK", "HTTP/1.1 503 Service Unavailable",
                                    "HTTP/1.0 204 No", "HTTP/1.1 200 OK"}) {
        ScriptedServer site(Answer(status));
        net.KnownTestSites() = {Site(site)};
        ASSERT_TRUE(net.Connected());
        EXPECT_EQ(WinInetErrorText(0), QString::fromLatin1(status));
    }
    net.KnownTestSites() = {RefusedSite()};
    EXPECT_FALSE(net.Connected());
    const QString reason = WinInetErrorText(12029);
    EXPECT_TRUE(reason.contains("onnect")) << reason.toStdString();
}

// Counts its paint events; the test asks for a repaint every few milliseconds.
class PaintCounter : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

TEST_F(CNetConnectTest, ASiteThatNeverAnswersIsGivenUpWhileTheWindowStaysResponsive) {
    ScriptedServer silent(ScriptedServer::Script().stayQuiet());
    ScriptedServer next(Answer());
    win::SetInternetRequestLimit(std::chrono::milliseconds(1500));
    CNetConnect net;
    net.KnownTestSites() = {Site(silent), Site(next)};
    System(kLan, true);

    PaintCounter window;
    window.resize(100, 100);
    window.show();
    QElapsedTimer clock;
    qint64 last = 0, largestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        largestGap = std::max(largestGap, clock.elapsed() - last);
        last = clock.elapsed();
        window.update();
    });
    tick.start(10);
    clock.start();
    const int paintsBefore = window.paints;
    const bool connected = net.Connected();
    const qint64 took = clock.elapsed();

    EXPECT_TRUE(connected) << "the second site answered";
    EXPECT_GE(took, 1400);
    EXPECT_LT(took, 4000);
    EXPECT_LT(largestGap, 250) << "the event loop stalled";
    EXPECT_GT(window.paints - paintsBefore, 20) << "the window did not repaint while waiting";
}

} // namespace
} // namespace postlark
