// SPDX-License-Identifier: GPL-3.0-or-later
// OAuth2 accounts end to end, through the real main window: signed in through the Add dialog
// in a stand-in browser against a local authorization server, checked and pushed on a Dovecot
// that validates the tokens itself; an expired token is refreshed without the user, a revoked
// sign-in asks for the browser again only when the user chooses to, and a token for another
// user is refused with the server's reason.
#include "app/AddAcctForm.h"
#include "app/PostlarkForm.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/SettingsStore.h"
#include "support/DovecotServer.h"
#include "support/MemoryKeyring.h"
#include "support/OAuthServer.h"
#include "support/StandInBrowser.h"
#include "support/TestCertificates.h"
#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"

#include <QAction>
#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

namespace postlark {
namespace {

using test::DovecotServer;
using test::OAuthServer;
using test::WaitUntil;

class OAuthAccountTest : public ::testing::Test {
protected:
    void SetUp() override {
        QString why;
        if (!DovecotServer::Available(&why) || !OAuthServer::Available(&why))
            GTEST_SKIP() << why.toStdString();
        const auto& files = test::TestCertificates::Shared();
        trust_ = std::make_unique<test::TrustTestCa>(files);
        auth_ = std::make_unique<OAuthServer>("alice");
        ASSERT_TRUE(auth_->start(&why)) << why.toStdString();
        DovecotServer::Options options{
            {{"alice", "pw-alice", 3}}, true, files.serverCertFile(), files.serverKeyFile(), true};
        options.oauth2Secret = auth_->secret();
        server_ = std::make_unique<DovecotServer>(options);
        ASSERT_TRUE(server_->start(&why)) << why.toStdString();
        ASSERT_TRUE(browser_.ok());
        SettingsStore::SaveValue("OAuthAuthorizationUrl",
                                 auth_->authorizeUrl().toString().toStdString());
        SettingsStore::SaveValue("OAuthTokenUrl", auth_->tokenUrl().toString().toStdString());
        SettingsStore::SaveValue("OAuthClientId", OAuthServer::clientId().toStdString());
        SettingsStore::SaveValue("OAuthScope", "mail");
        win::SetNotificationAreaOverride(true);
        form_ = std::make_unique<PostlarkForm>(QStringList{});
        ASSERT_TRUE(form_->Form_Load());
    }
    void TearDown() override {
        form_.reset();
        win::SetNotificationAreaOverride(std::nullopt);
    }
    QString Field(const char* scheme, const char* mechanism) const {
        const bool imap = QByteArray(scheme) == "imaps";
        return QStringLiteral("%1://;AUTH=%2@127.0.0.1:%3")
            .arg(QLatin1String(scheme), QLatin1String(mechanism))
            .arg(imap ? server_->imapsPort() : server_->tlsPort());
    }
    // Adds the account through the dialog as a user does; whether the dialog accepted it.
    bool AddThroughDialog(const QString& field) {
        AddAcctForm add(form_.get(), *form_, "");
        add.findChild<QLineEdit*>("EmailAddressText")->setText("alice@example.org");
        add.findChild<QLineEdit*>("POPText")->setText(field);
        add.findChild<QLineEdit*>("UserNameText")->setText("alice");
        EXPECT_TRUE(add.findChild<QCheckBox*>("OAuthCheck")->isChecked());
        EXPECT_FALSE(add.findChild<QLineEdit*>("PassText")->isEnabled());
        add.AddButton_Click();
        return add.result() == QDialog::Accepted;
    }
    QTreeWidgetItem* Row() {
        return form_->findChild<QTreeWidget*>("AccountList")->topLevelItem(0);
    }
    QString CheckNow() {
        form_->menu_Checknow_Click();
        return Row()->text(1) + " / " + Row()->toolTip(1);
    }

    test::TestEnvironment env_;
    test::MemoryKeyring keyring_;
    test::StandInBrowser browser_{env_};
    ScopedModalAnswerer ok_{[](const ModalQuestion&) { return ModalAnswer::Button(vbOK); }};
    std::unique_ptr<test::TrustTestCa> trust_;
    std::unique_ptr<OAuthServer> auth_;
    std::unique_ptr<DovecotServer> server_;
    std::unique_ptr<PostlarkForm> form_;
};

TEST_F(OAuthAccountTest, SignedInThroughTheDialogEveryProtocolAndMechanismChecks) {
    const char* cases[][2] = {{"imaps", "XOAUTH2"},
                              {"imaps", "OAUTHBEARER"},
                              {"pop3s", "XOAUTH2"},
                              {"pop3s", "OAUTHBEARER"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c[0]) + " " + c[1]);
        ASSERT_TRUE(AddThroughDialog(Field(c[0], c[1])));
        // An IMAP account is pushed too. Its first count comes before the check: Dovecot can
        // miss the messages of a fresh maildir that two sessions scan at once.
        if (c[0] == std::string("imaps")) {
            EXPECT_TRUE(WaitUntil([&] { return Row()->text(1) == "Yes, 3"; }));
        }
        EXPECT_EQ(CheckNow(), "Yes, 3 / ");
        // The refresh token went to the keyring; the settings file keeps nothing for it.
        EXPECT_EQ(SettingsStore::GetValue("Password0", "?"), "");
        EXPECT_EQ(keyring_.items.size(), 1u);
        DeleteAccount(0, 1);
        form_->ReDraw();
        keyring_.items.clear();
    }
    EXPECT_EQ(browser_.openedUrls().size(), 4);
    EXPECT_EQ(auth_->counters()->lastRedirectUri.left(17), "http://127.0.0.1:");
    // An answer that does not carry the sign-in's state is refused, and nothing is stored.
    ASSERT_TRUE(auth_->setNextAuthorize(OAuthServer::NextAuthorize::WrongState));
    EXPECT_FALSE(AddThroughDialog(Field("imaps", "XOAUTH2")));
    EXPECT_EQ(SettingsStore::GetValue("NumAccts", "0"), "0");
    ASSERT_FALSE(ModalQuestionsAsked().empty());
    EXPECT_TRUE(ModalQuestionsAsked().back().prompt.contains("state"))
        << ModalQuestionsAsked().back().prompt.toStdString();
}

TEST_F(OAuthAccountTest, PushUsesTheTokenAndAnExpiredOneIsRefreshedWithoutTheUser) {
    ASSERT_TRUE(auth_->setLifetime(2)); // every token has less than a minute left
    ASSERT_TRUE(AddThroughDialog(Field("imaps", "XOAUTH2")));
    ASSERT_TRUE(WaitUntil([&] { return Row()->text(1) == "Yes, 3"; }))
        << Row()->text(1).toStdString();
    ASSERT_TRUE(server_->deliver("alice", 50));
    ASSERT_TRUE(WaitUntil([&] { return Row()->text(1) == "Yes, 4"; }))
        << Row()->text(1).toStdString();
    const int refreshes = auth_->counters()->refreshes;
    WaitUntil([] { return false; }, 2100); // outlive the access token
    EXPECT_EQ(CheckNow(), "Yes, 4 / ");
    EXPECT_GT(auth_->counters()->refreshes, refreshes);
    EXPECT_EQ(browser_.openedUrls().size(), 1); // no browser without the user
}

TEST_F(OAuthAccountTest, RevokedSignInAsksForTheBrowserOnlyWhenTheUserChooses) {
    ASSERT_TRUE(auth_->setLifetime(2));
    ASSERT_TRUE(AddThroughDialog(Field("pop3s", "XOAUTH2")));
    WaitUntil([] { return false; }, 2100);
    ASSERT_TRUE(auth_->revokeRefreshTokens());
    EXPECT_EQ(CheckNow(), "Failed / Sign-in needed");
    EXPECT_EQ(browser_.openedUrls().size(), 1);
    auto* signIn = form_->findChild<QAction*>("menu_SignIn");
    emit form_->findChild<QMenu*>("menu_File")->aboutToShow();
    ASSERT_TRUE(signIn->isVisible());
    EXPECT_EQ(signIn->text(), "Sign &In to alice@example.org Again...");
    signIn->trigger();
    EXPECT_EQ(browser_.openedUrls().size(), 2);
    EXPECT_EQ(CheckNow(), "Yes, 3 / ");
    emit form_->findChild<QMenu*>("menu_File")->aboutToShow();
    EXPECT_FALSE(signIn->isVisible());
}

TEST_F(OAuthAccountTest, ATokenForAnotherUserIsRefusedWithTheServersReason) {
    ASSERT_TRUE(auth_->setUser("mallory"));
    ASSERT_TRUE(AddThroughDialog(Field("imaps", "OAUTHBEARER")));
    const QString outcome = CheckNow();
    EXPECT_TRUE(outcome.startsWith("Failed / The server refused the access token"))
        << outcome.toStdString();
    EXPECT_EQ(auth_->counters()->refreshes, 1); // refused once, refreshed and tried once more
}

} // namespace
} // namespace postlark
