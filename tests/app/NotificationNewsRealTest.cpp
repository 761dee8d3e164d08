// SPDX-License-Identifier: GPL-3.0-or-later
// What the desktop notification says of new mail on a real display: the main window in a child
// program, dunst on a private bus, an IMAP account on Dovecot whose messages carry the headers
// a decoder gets wrong most easily. Each message is named once, also after a restart, and
// reading the headers marks nothing as seen.
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/DovecotServer.h"
#include "support/NotificationServer.h"
#include "support/ProbeProcess.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QDirIterator>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using test::Ask;
using test::NextLine;
using test::NotificationServer;
using test::XServer;

constexpr int kTimeoutMs = test::kProbeTimeoutMs;

QByteArray Message(const QByteArray& from, const QByteArray& subject) {
    return "From: " + from + "\r\nTo: ann@example.org\r\nSubject: " + subject +
           "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0000\r\n\r\nHello.\r\n";
}

// Delivered in two batches of five (a notification names at most five); the lines they give,
// the newest first.
struct Case {
    QByteArray from, subject;
    QString line;
};
const QString kLong = QString(199, 'x') + QChar(0x2026);
const Case kCases[] = {
    {"Alice <alice@example.org>",
     "=?UTF-8?B?R3LDvMOfZSBhdXMgS8O2bG4=?=", "Alice \u2014 Gr\u00fc\u00dfe aus K\u00f6ln"},
    {"=?ISO-8859-1?Q?Jos=E9?= <jose@example.org>",
     "=?ISO-8859-1?Q?Caf=E9_cr=E8me?=", "Jos\u00e9 \u2014 Caf\u00e9 cr\u00e8me"},
    {"ivan@example.org",
     "=?KOI8-R?B?8NLJ18XU?=", "ivan@example.org \u2014 \u041f\u0440\u0438\u0432\u0435\u0442"},
    {"Bob <bob@example.org>", "=?UTF-8?Q?Hello_?=\r\n =?UTF-8?Q?World?=", "Bob \u2014 Hello World"},
    {"\"Lee, Ann\" <ann@example.org>", "Z\xc3\xbcrich", "Lee, Ann \u2014 Z\u00fcrich"},
    {"Carl <carl@example.org>", "=?UTF-8?B?###?=", "Carl \u2014 =?UTF-8?B?###?="},
    {"Dora <dora@example.org>", QByteArray(2000, 'x'), "Dora \u2014 " + kLong},
    {"Eve <eve@example.org>",
     "abc\xe2\x80\xae"
     "fed",
     "Eve \u2014 abcfed"},
    {"Finn <finn@example.org>", "<b>bold</b> & more",
     "Finn \u2014 &lt;b&gt;bold&lt;/b&gt; &amp; more"},
    {"Gus <gus@example.org>", "Caf\xe9 au lait", "Gus \u2014 Caf\u00e9 au lait"},
};

class NotificationNewsRealTest : public ::testing::Test {
protected:
    static test::DovecotServer::Options Options() {
        test::DovecotServer::Options options;
        options.users = {{"ann", "pw", 0, 0}};
        options.imap = true;
        return options;
    }
    void SetUp() override {
        POSTLARK_REQUIRE_PROGRAMS(XServer::missingPrograms(kOptions) +
                                  NotificationServer::missingPrograms());
        QString why;
        if (!test::DovecotServer::Available(&why))
            GTEST_SKIP() << why.toStdString();
        qputenv("XDG_STATE_HOME", (env_.path() + "/state").toLocal8Bit());
        ASSERT_TRUE(dovecot_.start(&why)) << why.toStdString();
        std::string key = BuildApplicationKey();
        AddAccount(0,
                   AccountRecord{"ann@example.org",
                                 "imap+insecure://127.0.0.1:" + std::to_string(dovecot_.imapPort()),
                                 "ann", PassCryptModule::EncryptText("pw", key), ""});
        for (const auto& [name, value] : {std::pair{"AlertMsg", "0"},
                                          {"AlertNotify", "1"},
                                          {"AlertNotifyStyle", "2"},
                                          {"StartMinimized", "1"},
                                          {"ImapPush", "0"}})
            SettingsStore::SaveValue(name, value);
        x_ = std::make_unique<XServer>(kOptions);
        ASSERT_TRUE(x_->failure().isEmpty()) << x_->failure().toStdString();
        bus_ = std::make_unique<NotificationServer>(x_.get());
        ASSERT_TRUE(bus_->failure().isEmpty()) << bus_->failure().toStdString();
    }
    void TearDown() override {
        Stop();
        bus_.reset();
        x_.reset();
        qunsetenv("XDG_STATE_HOME");
    }
    bool Start() {
        probe_.setProcessEnvironment(bus_->environment(x_->environment()));
        probe_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        probe_.start(POSTLARK_FORM_PROBE);
        return NextLine(probe_) == "loaded";
    }
    void Stop() {
        if (probe_.state() == QProcess::NotRunning)
            return;
        probe_.kill();
        probe_.waitForFinished(kTimeoutMs);
    }
    void Deliver(int first, int last) {
        for (int i = first; i < last; ++i)
            ASSERT_TRUE(dovecot_.deliverTo("ann", "", Message(kCases[i].from, kCases[i].subject)));
    }
    // Checks and returns the body of the notification that follows.
    std::string CheckAndRead() {
        const int before = int(bus_->received().size());
        if (Ask(probe_, "check") != "checked" || !bus_->waitForReceived(before + 1, kTimeoutMs))
            return "<no notification>";
        return bus_->received().last().body.toStdString();
    }
    // The lines of cases first..last-1, the newest first.
    static std::string Lines(int first, int last) {
        QStringList lines;
        for (int i = last - 1; i >= first; --i)
            lines << kCases[i].line;
        return lines.join('\n').toStdString();
    }
    bool AnySeen() const {
        for (QDirIterator it(dovecot_.maildir("ann"), QDir::Files, QDirIterator::Subdirectories);
             it.hasNext();)
            if (it.next().section(":2,", 1).contains('S'))
                return true;
        return false;
    }

    static constexpr XServer::Options kOptions{.windowManager = false, .trayHost = true};
    test::TestEnvironment env_;
    test::DovecotServer dovecot_{Options()};
    std::unique_ptr<XServer> x_;
    std::unique_ptr<NotificationServer> bus_;
    QProcess probe_;
};

TEST_F(NotificationNewsRealTest, EachMessageIsNamedOnceDecodedAndNothingIsMarkedSeen) {
    ASSERT_TRUE(Start());
    Deliver(0, 5);
    EXPECT_EQ(CheckAndRead(), Lines(0, 5));
    Deliver(5, 10);
    EXPECT_EQ(CheckAndRead(), Lines(5, 10)) << "only the messages not named before";

    // A new program names none of them again: the account's count alone. (What was told is
    // written a second after the check.)
    QThread::msleep(1500);
    Stop();
    ASSERT_TRUE(Start());
    EXPECT_EQ(CheckAndRead(), "ann@example.org: 10 new");
    EXPECT_FALSE(AnySeen());
}

} // namespace
} // namespace postlark
