// SPDX-License-Identifier: GPL-3.0-or-later
// Push through the real main window against a real Dovecot, with automatic checking off and
// nobody at the keys: a delivery shows in the row and raises the alerts within a second, a
// message read elsewhere counts down without alerts, a restarted server is watched again, a
// refused password stops the account's watcher, the setting switches push off and on, and
// results obtained during a check run wait for it and never land on a row that changed.
#include "app/PostlarkForm.h"
#include "mail/push/ImapWatcher.h"
#include "mail/push/PushWatchers.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/DovecotServer.h"
#include "support/ScriptedServer.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using test::DovecotServer;
using test::ScriptedServer;

class PushTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!DovecotServer::Available(nullptr))
            return;
        DovecotServer::Options options;
        options.users = {{"deliver", "pw-deliver", 2},
                         {"restart", "pw-restart", 1},
                         {"held", "pw-held", 0},
                         {"other", "pw-other", 1},
                         {"toggle", "pw-toggle", 3},
                         {"suma", "pw", 2},
                         {"sumb", "pw", 1}};
        options.imap = true;
        server_ = std::make_unique<DovecotServer>(options);
        if (!server_->start(&error_))
            server_.reset();
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        QString why;
        if (!DovecotServer::Available(&why))
            GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(server_) << error_.toStdString();
        win::SetNotificationAreaOverride(true);
    }
    void TearDown() override {
        form_.reset();
        win::SetNotificationAreaOverride(std::nullopt);
    }
    static QString Imap() {
        return QStringLiteral("imap+insecure://127.0.0.1:%1").arg(server_->imapPort());
    }
    static void Store(int index, const std::string& user, const std::string& password,
                      const QString& server = Imap()) {
        std::string key = BuildApplicationKey();
        AddAccount(index, AccountRecord{user + "@example.org", server.toStdString(), user,
                                        PassCryptModule::EncryptText(password, key), ""});
    }
    PostlarkForm& Load(PushTiming timing = {}) {
        form_ = std::make_unique<PostlarkForm>(QStringList{});
        EXPECT_TRUE(form_->Form_Load());
        form_->Push().SetTiming(timing); // before the watchers start from the event loop
        return *form_;
    }
    QTreeWidgetItem* Row(int row) {
        return form_->findChild<QTreeWidget*>("AccountList")->topLevelItem(row);
    }
    QString Cell(int row) { return Row(row) ? Row(row)->text(1) : QString(); }
    // Sleeps in the event loop until the condition holds or `ms` have passed.
    template <typename Condition> static bool WaitUntil(Condition condition, int ms = 5000) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (condition())
                loop.quit();
        });
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        poll.start(5);
        if (!condition())
            loop.exec();
        return condition();
    }
    static void Sleep(int ms) {
        WaitUntil([] { return false; }, ms);
    }

    test::TestEnvironment env_;
    ScopedModalAnswerer ok_{[](const ModalQuestion&) { return ModalAnswer::Button(vbOK); }};
    std::unique_ptr<PostlarkForm> form_;
    static inline std::unique_ptr<DovecotServer> server_;
    static inline QString error_;
};

TEST_F(PushTest, ADeliveryShowsAndAlertsAtOnceAndReadMailCountsDownQuietly) {
    Store(0, "deliver", "pw-deliver");
    Load();
    // Without a check at start, the first count after start-up tells of the waiting mail.
    ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "Yes, 2"; })) << Cell(0).toStdString();
    ASSERT_TRUE(WaitUntil([&] { return ModalQuestionsAsked().size() == 1; }));
    const QString status = form_->findChild<QStatusBar*>("StatusBar")->currentMessage();
    Sleep(1500); // counts are at least a second apart

    QElapsedTimer latency;
    latency.start();
    ASSERT_TRUE(server_->deliver("deliver", 100));
    ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "Yes, 3"; })) << Cell(0).toStdString();
    EXPECT_LT(latency.elapsed(), 1000);
    ASSERT_TRUE(WaitUntil([&] { return ModalQuestionsAsked().size() == 2; }));
    EXPECT_EQ(ModalQuestionsAsked()[1].prompt,
              "You have new mail in accounts:\r\ndeliver@example.org\r\n");
    EXPECT_EQ(ModalQuestionsAsked()[1].title, "Mail Notification - Postlark");
    // "Last Check" tells of checks only.
    EXPECT_EQ(form_->findChild<QStatusBar*>("StatusBar")->currentMessage(), status);

    ASSERT_TRUE(server_->markOneSeen("deliver"));
    ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "Yes, 2"; })) << Cell(0).toStdString();
    Sleep(100);
    EXPECT_EQ(ModalQuestionsAsked().size(), 2u);
}

// Mail delivered while the server was down counts as new once the watcher is back.
TEST_F(PushTest, ARestartedServerIsWatchedAgainAndCountedRight) {
    Store(0, "restart", "pw-restart");
    PushTiming quick;
    quick.backOffFirst = std::chrono::milliseconds(100);
    Load(quick);
    ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "Yes, 1"; })) << Cell(0).toStdString();
    server_->stop();
    // The watcher notices at once and says why in the tool tip; the count stays.
    EXPECT_TRUE(WaitUntil([&] { return !Row(0)->toolTip(1).isEmpty(); }));
    EXPECT_EQ(Cell(0), "Yes, 1");
    ASSERT_TRUE(server_->deliver("restart", 200));
    QString error;
    ASSERT_TRUE(server_->restart(&error)) << error.toStdString();
    ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "Yes, 2"; })) << Cell(0).toStdString();
    EXPECT_EQ(Row(0)->toolTip(1), "");
    // One alert at start-up, one for the mail delivered meanwhile.
    ASSERT_TRUE(WaitUntil([&] { return ModalQuestionsAsked().size() == 2; }));
}

TEST_F(PushTest, ARefusedPasswordStopsTheWatcherAndSaysBadPassword) {
    Store(0, "other", "not-it");
    Load();
    ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "Bad Password"; })) << Cell(0).toStdString();
    EXPECT_TRUE(Row(0)->toolTip(1).contains("refused")) << Row(0)->toolTip(1).toStdString();
    ASSERT_NE(form_->Push().Watcher(0), nullptr);
    EXPECT_TRUE(form_->Push().Watcher(0)->Stopped());
}

TEST_F(PushTest, PushOffWatchesNothingAndApplyingItOnStartsAtOnce) {
    SettingsStore::SaveValue("ImapPush", "0");
    Store(0, "toggle", "pw-toggle");
    Load();
    Sleep(300);
    EXPECT_TRUE(form_->Push().Watched().empty());
    EXPECT_EQ(Cell(0), "");
    SettingsStore::SaveValue("ImapPush", "1");
    form_->ApplyImapPush();
    EXPECT_EQ(form_->Push().Watched(), std::vector<int>{0});
    ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "Yes, 3"; })) << Cell(0).toStdString();
}

// A count that comes in while a check run waits for a silent server lands once the run has
// ended, with its alert; after a list change during the run it lands nowhere.
TEST_F(PushTest, ResultsWaitForACheckRunAndNeverLandOnAChangedRow) {
    for (const bool listChanges : {false, true}) {
        SCOPED_TRACE(listChanges);
        ScriptedServer silent(ScriptedServer::Script().stayQuiet());
        SettingsStore::Apply({SettingsStore::Change::Set(NumAcctsKey, "0")});
        Store(0, "held", "pw-held");
        Store(1, "silent", "pw", QStringLiteral("127.0.0.1:%1").arg(silent.port()));
        Load();
        ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "No"; })) << Cell(0).toStdString();
        const std::size_t asked = ModalQuestionsAsked().size();
        bool held = false;
        silent.connect(&silent, &ScriptedServer::connectionAccepted, form_.get(), [&] {
            EXPECT_TRUE(server_->deliver("held", listChanges ? 301 : 300));
            Sleep(500);
            held = Cell(0) == "No" && ModalQuestionsAsked().size() == asked;
            if (listChanges) {
                form_->EndCheckRunForListChange();
                DeleteAccount(0, 2);
                form_->ReDraw();
            } else {
                form_->CheckButton_Click(); // Skip
            }
        });
        form_->CheckButton_Click();
        EXPECT_TRUE(held) << "nothing lands during the run";
        if (listChanges) {
            Sleep(300);
            EXPECT_EQ(Cell(0), "");
            EXPECT_EQ(ModalQuestionsAsked().size(), asked);
        } else {
            ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "Yes, 1"; })) << Cell(0).toStdString();
            ASSERT_EQ(ModalQuestionsAsked().size(), asked + 1);
            EXPECT_EQ(ModalQuestionsAsked().back().prompt,
                      "You have new mail in accounts:\r\nheld@example.org\r\n");
            ASSERT_TRUE(server_->markOneSeen("held"));
        }
        form_.reset();
    }
}

// Without a check at start, the first push counts raise one alert for all accounts with mail.
// The tray count covers every row's waiting mail, whichever count moved, and goes with the mail.
TEST_F(PushTest, StartUpAlertsOnceAndTheTrayCountFollowsEveryRow) {
    Store(0, "suma", "pw");
    Store(1, "sumb", "pw");
    Load();
    ASSERT_TRUE(WaitUntil([&] { return ModalQuestionsAsked().size() == 1; }));
    EXPECT_EQ(ModalQuestionsAsked()[0].prompt,
              "You have new mail in accounts:\r\nsuma@example.org\r\nsumb@example.org\r\n");
    EXPECT_EQ(form_->NewMailCount(), 3);
    Sleep(1500); // counts are at least a second apart
    ASSERT_TRUE(server_->deliver("sumb", 400));
    ASSERT_TRUE(WaitUntil([&] { return ModalQuestionsAsked().size() == 2; }));
    EXPECT_EQ(ModalQuestionsAsked()[1].prompt,
              "You have new mail in accounts:\r\nsumb@example.org\r\n");
    EXPECT_EQ(form_->NewMailCount(), 4);
    for (const char* user : {"suma", "suma", "sumb", "sumb"})
        ASSERT_TRUE(server_->markOneSeen(user));
    ASSERT_TRUE(WaitUntil([&] { return Cell(0) == "No" && Cell(1) == "No"; }));
    EXPECT_EQ(form_->NewMailCount(), 0);
    EXPECT_EQ(form_->findChild<QStatusBar*>("StatusBar")->currentMessage(), "");
}

} // namespace
} // namespace postlark
