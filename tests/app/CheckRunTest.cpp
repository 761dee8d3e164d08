// SPDX-License-Identifier: GPL-3.0-or-later
// Check runs through the real main window against a real Dovecot and scripted servers, and
// the new-mail alerts.
#include "mail/check/CheckRun.h"
#include "app/PostlarkForm.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "platform/window/WindowLayer.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/DovecotServer.h"
#include "support/ScriptedServer.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "winsupport/CSystrayIcon.h"

#include <QAbstractButton>
#include <QAction>
#include <QEventLoop>
#include <QFile>
#include <QSslKey>
#include <QSslServer>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using test::DovecotServer;
using test::ScriptedServer;

// The main window, recording every progress position a run sets.
class RecordingForm : public PostlarkForm {
public:
    RecordingForm() : PostlarkForm({}) {}
    void SetProgressPosition(std::int32_t position) override {
        positions.push_back(position);
        PostlarkForm::SetProgressPosition(position);
    }
    std::vector<std::int32_t> positions;
};

void StoreAccount(int index, const std::string& address, const QString& server,
                  const std::string& user, const std::string& password,
                  const std::string& program = "") {
    std::string key = BuildApplicationKey();
    AddAccount(index, AccountRecord{address, server.toStdString(), user,
                                    PassCryptModule::EncryptText(password, key), program});
}

class CheckRunTest : public ::testing::Test {
protected:
    void SetUp() override { win::SetNotificationAreaOverride(true); }
    void TearDown() override {
        form_.reset();
        win::SetNotificationAreaOverride(std::nullopt);
    }
    RecordingForm& Load() {
        // These tests are about the check run; push for IMAP accounts has tests of its own.
        SettingsStore::SaveValue("ImapPush", "0");
        form_ = std::make_unique<RecordingForm>();
        EXPECT_TRUE(form_->Form_Load());
        return *form_;
    }
    QStringList Column(int column) {
        auto* list = form_->findChild<QTreeWidget*>("AccountList");
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(column);
        return texts;
    }
    QString Status() { return form_->findChild<QStatusBar*>("StatusBar")->currentMessage(); }
    QAbstractButton* Button(const char* name) { return form_->findChild<QAbstractButton*>(name); }

    // Runs a check with every question answered OK; returns the questions asked.
    std::vector<ModalQuestion> Check() {
        ScopedModalAnswerer ok([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
        form_->CheckButton_Click();
        return ModalQuestionsAsked();
    }

    test::TestEnvironment env_;
    std::unique_ptr<RecordingForm> form_;
};

class CheckRunDovecot : public CheckRunTest {
protected:
    static void SetUpTestSuite() {
        if (!DovecotServer::Available(nullptr))
            return;
        DovecotServer::Options options;
        options.users = {
            {"full", "pw-full", 2}, {"empty", "pw-empty", 0}, {"mixed", "pw-mixed", 3, 1}};
        options.imap = true;
        server_ = std::make_unique<DovecotServer>(options);
        if (!server_->start(&error_))
            server_.reset();
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override {
        CheckRunTest::SetUp();
        QString why;
        if (!DovecotServer::Available(&why))
            GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(server_) << error_.toStdString();
    }
    static QString Plain() { return QStringLiteral("127.0.0.1:%1").arg(server_->port()); }
    static QString Imap() {
        return QStringLiteral("imap+insecure://127.0.0.1:%1").arg(server_->imapPort());
    }

    static inline std::unique_ptr<DovecotServer> server_;
    static inline QString error_;
};

TEST_F(CheckRunDovecot, EveryOutcomeShowsInTheListAndOnlyMailIsAnnounced) {
    quint16 refused;
    {
        ScriptedServer gone;
        refused = gone.port();
    }
    StoreAccount(0, "full@example.org", Plain(), "full", "pw-full");
    StoreAccount(1, "empty@example.org", Plain(), "empty", "pw-empty");
    StoreAccount(2, "wrong@example.org", Plain(), "full", "not-it");
    StoreAccount(3, "gone@example.org", QStringLiteral("127.0.0.1:%1").arg(refused), "x", "y");
    Load();

    const auto asked = Check();
    EXPECT_EQ(Column(1), QStringList({"Yes, 2", "No", "Bad Password", "Failed"}));
    EXPECT_EQ(form_->positions, (std::vector<std::int32_t>{0, 2500, 5000, 7500, 10000}));
    EXPECT_TRUE(Status().startsWith("Last Check: ")) << Status().toStdString();
    EXPECT_TRUE(Status().endsWith(", new messages.")) << Status().toStdString();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].prompt, "You have new mail in accounts:\r\nfull@example.org\r\n");
    EXPECT_EQ(asked[0].title, "Mail Notification - Postlark");
    EXPECT_EQ(asked[0].buttons, vbInformation);
    EXPECT_EQ(Button("CheckButton")->text(), "&Check Mail Now");
    EXPECT_TRUE(Button("AddAcct")->isEnabled());
    EXPECT_TRUE(Button("LaunchButton")->isEnabled());
}

// IMAP and POP3 accounts side by side in one run: an IMAP account's count is its INBOX's unseen
// messages, and it shows and alerts exactly as a POP3 account's message count does.
TEST_F(CheckRunDovecot, ImapAccountsShowAndAlertLikePop3Accounts) {
    ScriptedServer refusing(ScriptedServer::Script()
                                .send("* OK [CAPABILITY IMAP4rev1 LOGINDISABLED] hi\r\n")
                                .stayQuiet());
    StoreAccount(0, "imap@example.org", Imap(), "mixed", "pw-mixed");
    StoreAccount(1, "pop@example.org", Plain(), "mixed", "pw-mixed");
    StoreAccount(2, "wrong@example.org", Imap(), "mixed", "not-it");
    StoreAccount(3, "empty@example.org", Imap(), "empty", "pw-empty");
    StoreAccount(4, "plain@example.org",
                 QStringLiteral("imap+insecure://127.0.0.1:%1").arg(refusing.port()), "u", "p");
    Load();

    const auto asked = Check();
    EXPECT_EQ(Column(1), QStringList({"Yes, 2", "Yes, 3", "Bad Password", "No", "Failed"}));
    auto* list = form_->findChild<QTreeWidget*>("AccountList");
    EXPECT_EQ(list->topLevelItem(4)->toolTip(1),
              "The server does not accept a password on an unencrypted connection; use imaps://");
    EXPECT_EQ(list->topLevelItem(0)->toolTip(1), "");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].prompt,
              "You have new mail in accounts:\r\nimap@example.org\r\npop@example.org\r\n");
    EXPECT_TRUE(Status().endsWith(", new messages.")) << Status().toStdString();
}

TEST_F(CheckRunDovecot, ThreeAccountsWithoutMailStepByAThird) {
    for (int i = 0; i < 3; ++i)
        StoreAccount(i, "e" + std::to_string(i), Plain(), "empty", "pw-empty");
    Load();
    const auto asked = Check();
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(form_->positions, (std::vector<std::int32_t>{0, 3333, 6666, 9999}));
    EXPECT_EQ(Column(1), QStringList({"No", "No", "No"}));
    EXPECT_TRUE(Status().endsWith(", no new mail.")) << Status().toStdString();
}

TEST_F(CheckRunTest, EmptyListSaysSoAndLeavesTheButtonsReady) {
    Load();
    const auto asked = Check();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].prompt, "No email accounts in list.");
    EXPECT_EQ(Button("CheckButton")->text(), "&Check Mail Now");
    EXPECT_TRUE(Button("DelAcct")->isEnabled());
}

TEST_F(CheckRunTest, SkipMovesOnFromASilentServerAndAClosingServerFailsByItself) {
    ScriptedServer silent(ScriptedServer::Script().stayQuiet());
    ScriptedServer closing(ScriptedServer::Script().closeConnection());
    StoreAccount(0, "silent", QStringLiteral("127.0.0.1:%1").arg(silent.port()), "u", "p");
    StoreAccount(1, "closing", QStringLiteral("127.0.0.1:%1").arg(closing.port()), "u", "p");
    Load();
    bool skipped = false;
    silent.connect(&silent, &ScriptedServer::connectionAccepted, form_.get(), [&] {
        QTimer::singleShot(100, form_.get(), [&] {
            EXPECT_EQ(Button("CheckButton")->text(), "&Skip Account");
            EXPECT_FALSE(form_->findChild<QAction*>("menu_Checknow")->isEnabled());
            skipped = true;
            form_->CheckButton_Click();
        });
    });
    Check();
    EXPECT_TRUE(skipped);
    // The skipped server never answered: "Failed", not "No" (which would mean an empty mailbox).
    EXPECT_EQ(Column(1), QStringList({"Failed", "Failed"}));
    auto* list = form_->findChild<QTreeWidget*>("AccountList");
    EXPECT_EQ(list->topLevelItem(0)->toolTip(1), "Skipped: the server had not answered");
    EXPECT_EQ(closing.connectionCount(), 1);
}

// A server that accepts and then stays silent, or sends a greeting without a line end, is given
// up after the silence limit with nobody at the keys; a server that keeps talking is not.
TEST_F(CheckRunTest, ASilentServerIsGivenUpAfterTheSilenceLimit) {
    ScriptedServer silent(ScriptedServer::Script().stayQuiet());
    ScriptedServer unended(ScriptedServer::Script().send("+OK ready").stayQuiet());
    ScriptedServer slow(ScriptedServer::Script()
                            .send("+OK ready\r\n")
                            .sendAfterLine("+OK\r\n")
                            .sendAfterLine("+OK logged in\r\n")
                            .expectLine()
                            .wait(350)
                            .send("+OK 4 ")
                            .wait(350)
                            .send("400\r\n")
                            .sendAfterLine("+OK bye\r\n")
                            .closeConnection());
    StoreAccount(0, "silent", QStringLiteral("127.0.0.1:%1").arg(silent.port()), "u", "p");
    StoreAccount(1, "unended", QStringLiteral("127.0.0.1:%1").arg(unended.port()), "u", "p");
    StoreAccount(2, "slow", QStringLiteral("127.0.0.1:%1").arg(slow.port()), "u", "p");
    ScriptedServer imapSilent(ScriptedServer::Script().send("* OK ready\r\n").stayQuiet());
    StoreAccount(3, "imap", QStringLiteral("imap+insecure://127.0.0.1:%1").arg(imapSilent.port()),
                 "u", "p");
    Load();
    form_->Checker().SilenceLimit = std::chrono::milliseconds(600);
    // Without a limit the run would wait for ever; a late Skip keeps a failure from hanging.
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, form_.get(), [&] { form_->CheckButton_Click(); });
    watchdog.start(8000);
    Check();
    EXPECT_EQ(Column(1), QStringList({"Failed", "Failed", "Yes, 4", "Failed"}));
    auto* list = form_->findChild<QTreeWidget*>("AccountList");
    for (int row : {0, 1, 3})
        EXPECT_EQ(list->topLevelItem(row)->toolTip(1),
                  "The server did not answer within 60 seconds");
    EXPECT_EQ(Button("CheckButton")->text(), "&Check Mail Now");
}

// A change of the account list that lands while a run waits (a dialog opened before the run
// started) ends the run first: no result is written to the rows, which now show other accounts.
TEST_F(CheckRunTest, AListChangeDuringARunEndsItWithoutResults) {
    ScriptedServer silent(ScriptedServer::Script().stayQuiet());
    ScriptedServer second(ScriptedServer::Script().send("+OK ready\r\n").stayQuiet());
    StoreAccount(0, "silent", QStringLiteral("127.0.0.1:%1").arg(silent.port()), "u", "p");
    StoreAccount(1, "second", QStringLiteral("127.0.0.1:%1").arg(second.port()), "u", "p");
    Load();
    bool restoreOffered = true;
    silent.connect(&silent, &ScriptedServer::connectionAccepted, form_.get(), [&] {
        QTimer::singleShot(100, form_.get(), [&] {
            // Restore is unavailable during a run, as the account buttons are.
            restoreOffered = form_->findChild<QAction*>("menu_restore")->isEnabled();
            const std::size_t asked = ModalQuestionsAsked().size();
            form_->menu_restore_Click();
            EXPECT_EQ(ModalQuestionsAsked().size(), asked);
            // The list changes as the Delete command changes it once confirmed.
            form_->EndCheckRunForListChange();
            DeleteAccount(0, 2);
            form_->ReDraw();
        });
    });
    Check();
    EXPECT_FALSE(restoreOffered);
    EXPECT_EQ(Column(0), QStringList({"second"}));
    EXPECT_EQ(Column(1), QStringList({""}));
    EXPECT_EQ(second.connectionCount(), 0);
    EXPECT_EQ(Status(), "The check was stopped because the account list changed.");
    EXPECT_EQ(Button("CheckButton")->text(), "&Check Mail Now");
    EXPECT_TRUE(Button("AddAcct")->isEnabled());
    EXPECT_TRUE(form_->findChild<QAction*>("menu_restore")->isEnabled());
}

// Another running copy changes an account while this copy's run is under way: the result that
// the run obtains for the changed account does not land on the row that still shows the old one.
TEST_F(CheckRunTest, AResultForAnAccountAnotherCopyChangedLandsOnNoRow) {
    ScriptedServer silent(ScriptedServer::Script().stayQuiet());
    ScriptedServer full(ScriptedServer::Script()
                            .send("+OK ready\r\n")
                            .sendAfterLine("+OK\r\n")
                            .sendAfterLine("+OK logged in\r\n")
                            .sendAfterLine("+OK 2 200\r\n")
                            .sendAfterLine("+OK bye\r\n")
                            .closeConnection());
    StoreAccount(0, "silent", QStringLiteral("127.0.0.1:%1").arg(silent.port()), "u", "p");
    StoreAccount(1, "before", QStringLiteral("127.0.0.1:%1").arg(full.port()), "u", "p");
    Load();
    silent.connect(&silent, &ScriptedServer::connectionAccepted, form_.get(), [&] {
        QTimer::singleShot(100, form_.get(), [&] {
            SettingsStore::SaveValue("EmailAddress1", "after"); // the other copy's change
            form_->CheckButton_Click();                         // Skip
        });
    });
    const auto asked = Check();
    EXPECT_EQ(full.connectionCount(), 1);
    EXPECT_EQ(Column(0), QStringList({"silent", "before"}));
    EXPECT_EQ(Column(1), QStringList({"Failed", ""}));
    EXPECT_TRUE(asked.empty()) << "no alert for a row that shows another account";
}

// "Failed" stays the column's text; the cell's tool tip says why.
// A server's [ALERT] stays in its row's tool tip and takes the status bar once.
TEST_F(CheckRunTest, AServerAlertIsShownInTheToolTipAndOnceInTheStatusBar) {
    ScriptedServer server(ScriptedServer::Script()
                              .send("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] hi\r\n")
                              .sendAfterLine("a1 OK\r\n")
                              .sendAfterLine("* OK [ALERT] Quota at 95%\r\n"
                                             "* STATUS INBOX (UNSEEN 0)\r\na2 OK\r\n")
                              .sendAfterLine("* BYE\r\na3 OK\r\n")
                              .closeConnection());
    StoreAccount(0, "alerted", QStringLiteral("imap+insecure://127.0.0.1:%1").arg(server.port()),
                 "u", "p");
    Load();
    for (const bool first : {true, false}) {
        Check();
        EXPECT_EQ(Column(1), QStringList({"No"}));
        auto* list = form_->findChild<QTreeWidget*>("AccountList");
        EXPECT_EQ(list->topLevelItem(0)->toolTip(1), "The server says: Quota at 95%");
        if (first)
            EXPECT_EQ(Status(), "alerted: The server says: Quota at 95%");
        else
            EXPECT_TRUE(Status().startsWith("Last Check: ")) << Status().toStdString();
    }
}

TEST_F(CheckRunTest, FailedSaysWhyInItsToolTip) {
    const auto& certificates = test::TestCertificates::Shared();
    ASSERT_TRUE(certificates.ok()) << certificates.error().toStdString();
    QSslServer untrusted; // presents a self-signed certificate nobody trusts
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(QSslCertificate::fromPath(certificates.selfSignedCertFile()));
    QFile keyFile(certificates.selfSignedKeyFile());
    ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    untrusted.setSslConfiguration(tls);
    ASSERT_TRUE(untrusted.listen(QHostAddress::LocalHost));
    quint16 refused;
    {
        ScriptedServer gone;
        refused = gone.port();
    }
    ScriptedServer closing(ScriptedServer::Script().closeConnection());
    ScriptedServer answering(ScriptedServer::Script()
                                 .send("+OK ready\r\n")
                                 .sendAfterLine("+OK\r\n")
                                 .sendAfterLine("+OK\r\n")
                                 .sendAfterLine("+OK 0 0\r\n")
                                 .sendAfterLine("+OK bye\r\n")
                                 .closeConnection());
    StoreAccount(0, "refused", QStringLiteral("127.0.0.1:%1").arg(refused), "u", "p");
    StoreAccount(1, "untrusted", QStringLiteral("pop3s://127.0.0.1:%1").arg(untrusted.serverPort()),
                 "u", "p");
    StoreAccount(2, "closing", QStringLiteral("127.0.0.1:%1").arg(closing.port()), "u", "p");
    StoreAccount(3, "answering", QStringLiteral("127.0.0.1:%1").arg(answering.port()), "u", "p");
    Load();
    Check();
    EXPECT_EQ(Column(1), QStringList({"Failed", "Failed", "Failed", "No"}));
    auto* list = form_->findChild<QTreeWidget*>("AccountList");
    const auto tip = [&](int row) { return list->topLevelItem(row)->toolTip(1); };
    EXPECT_EQ(tip(0), QStringLiteral("Connection refused (127.0.0.1:%1)").arg(refused));
    EXPECT_TRUE(tip(1).startsWith("The certificate of 127.0.0.1 is not trusted: "))
        << tip(1).toStdString();
    EXPECT_TRUE(tip(1).contains("self-signed")) << tip(1).toStdString();
    EXPECT_EQ(tip(2), "The server closed the connection before answering");
    EXPECT_EQ(tip(3), "");

    // A reload keeps each "Failed" whose row still shows its account, with its tool tip.
    SettingsStore::SaveValue("EmailAddress2", "renamed");
    form_->ReDraw();
    EXPECT_EQ(Column(1), QStringList({"Failed", "Failed", "", ""}));
    EXPECT_EQ(tip(0), QStringLiteral("Connection refused (127.0.0.1:%1)").arg(refused));
}

} // namespace
} // namespace postlark
