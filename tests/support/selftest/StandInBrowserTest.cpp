// SPDX-License-Identifier: GPL-3.0-or-later
// QDesktopServices::openUrl reaches the stand-in browser, without a display and with one under
// openbox, and the browser follows the sign-in page's redirect to a loopback listener.
#include "support/StandInBrowser.h"
#include "support/OAuthServer.h"
#include "support/XServer.h"

#include <QDesktopServices>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>
#include <gtest/gtest.h>

using namespace postlark::test;

namespace {

TEST(StandInBrowser, OpenUrlFollowsTheRedirectToTheLoopbackListener) {
    QString why;
    if (!OAuthServer::Available(&why))
        GTEST_SKIP() << why.toStdString();
    OAuthServer oauth(QStringLiteral("alice"));
    ASSERT_TRUE(oauth.start(&why)) << why.toStdString();
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    // xdg-open without a display, then on one under openbox (our process stays offscreen).
    for (const bool onDisplay : {false, true}) {
        SCOPED_TRACE(onDisplay);
        std::unique_ptr<XServer> x;
        if (onDisplay) {
            POSTLARK_REQUIRE_PROGRAMS(XServer::missingPrograms({true, false}));
            x = std::make_unique<XServer>(XServer::Options{true, false});
            ASSERT_TRUE(x->failure().isEmpty()) << x->failure().toStdString();
            qputenv("DISPLAY", x->display().toLocal8Bit());
        }
        TestEnvironment environment;
        StandInBrowser browser(environment);
        ASSERT_TRUE(browser.ok());
        QTcpServer listener;
        ASSERT_TRUE(listener.listen(QHostAddress::LocalHost));
        const QUrl url = oauth.authorizeUrl(
            QStringLiteral("http://127.0.0.1:%1/done").arg(listener.serverPort()), "s1", "any");
        ASSERT_TRUE(QDesktopServices::openUrl(url));
        ASSERT_TRUE(browser.waitForOpened(1));
        EXPECT_EQ(browser.openedUrls(), QStringList{url.toString(QUrl::FullyEncoded)});
        ASSERT_TRUE(XServer::waitUntil([&] { return listener.hasPendingConnections(); }, 10000));
        std::unique_ptr<QTcpSocket> visit(listener.nextPendingConnection());
        ASSERT_TRUE(XServer::waitUntil([&] { return visit->canReadLine(); }, 5000));
        const QList<QByteArray> request = visit->readLine().split(' '); // GET /done?... HTTP/1.1
        visit->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        visit->waitForBytesWritten(1000);
        ASSERT_EQ(request.size(), 3);
        const QUrl arrived(QString::fromLatin1(request[1]));
        const QUrlQuery answer(arrived);
        EXPECT_EQ(arrived.path(), "/done");
        EXPECT_TRUE(answer.hasQueryItem("code"));
        EXPECT_EQ(answer.queryItemValue("state"), "s1");
    }
    if (!display.isEmpty())
        qputenv("DISPLAY", display);
}

} // namespace
