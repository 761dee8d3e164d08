// SPDX-License-Identifier: GPL-3.0-or-later
// Check runs through the real main window against a real Dovecot and scripted servers, and
// the new-mail alerts.
#include "app/PostlarkForm.h"
#include "mail/Pop3Probe.h"
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
        server_ = std::make_unique<DovecotServer>(
            QList<test::DovecotUser>{{"full", "pw-full", 2}, {"empty", "pw-empty", 0}});
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
    EXPECT_EQ(Column(1), QStringList({"No", "Failed"}));
    EXPECT_EQ(closing.connectionCount(), 1);
}

// "Failed" stays the column's text; the cell's tool tip says why.
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
}

} // namespace
} // namespace postlark
