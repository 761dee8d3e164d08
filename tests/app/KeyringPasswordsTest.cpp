// SPDX-License-Identifier: GPL-3.0-or-later
// "Keep passwords in the desktop's keyring" on the real main window, with the keyring in
// memory: the settings box moves the passwords, and backup, restore and delete follow them.
#include "app/PostlarkForm.h"
#include "dialogs/SettingsForm.h"
#include "mail/secrets/AccountSecrets.h"
#include "platform/shell/ShellNotify.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/MemoryKeyring.h"
#include "support/TestEnvironment.h"

#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

using Mood = test::MemoryKeyring::Mood;

class KeyringPasswordsTest : public ::testing::Test {
protected:
    void SetUp() override {
        win::SetNotificationAreaOverride(true);
        form_ = std::make_unique<PostlarkForm>(QStringList{});
        ASSERT_TRUE(form_->Form_Load());
        for (long i = 0; i < 2; ++i)
            AddAccount(i, {kAddresses[i], "pop.example.org", "user", Cipher(kPasswords[i]), ""});
        form_->ReDraw();
    }
    void TearDown() override {
        form_.reset();
        win::SetNotificationAreaOverride(std::nullopt);
    }
    std::string Cipher(const std::string& plain) const {
        std::string key = form_->ApplicationKey();
        return PassCryptModule::EncryptText(plain, key);
    }
    // Runs the command with questions answered Yes and file dialogs by `file`; the questions.
    std::vector<ModalQuestion> Answering(const std::function<void()>& command,
                                         const QString& file = {}) {
        ScopedModalAnswerer answerer([&](const ModalQuestion& q) {
            return q.kind == ModalQuestion::Kind::MessageBox ? ModalAnswer::Button(vbYes)
                                                             : ModalAnswer::File(file);
        });
        command();
        return ModalQuestionsAsked();
    }
    // Ticks the keyring box and presses OK.
    std::vector<ModalQuestion> SetKeyringBox(bool on) {
        SettingsForm dialog(*form_, form_.get());
        auto* box = dialog.findChild<QCheckBox*>("CheckKeyring");
        EXPECT_EQ(box->text(), "Keep passwords in the desktop's keyring");
        box->setChecked(on);
        const auto asked = Answering([&] { dialog.findChild<QPushButton*>("cmdOK")->click(); });
        EXPECT_EQ(box->isChecked(), KeyringPasswordsOn()) << "the box shows the setting";
        return asked;
    }
    bool KeyringHoldsThePasswords() const {
        return keyring_.items.size() == 2 &&
               keyring_.items.at({kAddresses[0], "user@pop.example.org"}) == kPasswords[0] &&
               keyring_.items.at({kAddresses[1], "user@pop.example.org"}) == kPasswords[1];
    }

    const char* kAddresses[2] = {"ann@example.org", "bob@example.org"};
    const char* kPasswords[2] = {"ann's secret", "bob's secret"};
    test::TestEnvironment env_;
    test::MemoryKeyring keyring_;
    std::unique_ptr<PostlarkForm> form_;
};

TEST_F(KeyringPasswordsTest, TheSettingsBoxMovesThePasswordsOrSaysWhyNot) {
    EXPECT_TRUE(SetKeyringBox(true).empty());
    EXPECT_EQ(SettingsStore::GetValue("Password0", "absent"), "");
    EXPECT_TRUE(KeyringHoldsThePasswords());

    keyring_.mood = Mood::Locked;
    const auto asked = SetKeyringBox(false);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].prompt, QStringLiteral("The passwords could not be moved back into the "
                                              "settings file: The desktop's keyring is locked"));
    EXPECT_EQ(asked[0].buttons, vbOKOnly + vbExclamation);
    EXPECT_EQ(asked[0].title, "Postlark");
    EXPECT_TRUE(KeyringPasswordsOn());
}

TEST_F(KeyringPasswordsTest, BackupCarriesEncipheredPasswordsAndRestoreReturnsThemToTheKeyring) {
    ASSERT_TRUE(SetKeyringBox(true).empty());
    const QString file = env_.path() + "/accounts.pls";
    keyring_.mood = Mood::NoService;
    EXPECT_EQ(Answering([&] { form_->menu_backup_Click(); }, file).back().prompt,
              QStringLiteral("The backup was not written: %1").arg(NoKeyringText));
    EXPECT_FALSE(QFile::exists(file));

    keyring_.mood = Mood::Open;
    EXPECT_EQ(Answering([&] { form_->menu_backup_Click(); }, file).size(), 1u);
    QFile backup(file);
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    const QByteArray hex = QByteArray::fromStdString(Cipher(kPasswords[0])).toHex(' ').toUpper();
    EXPECT_TRUE(backup.readAll().contains("\r\nPassword0=" + hex + "\r\n"));

    keyring_.items.clear();
    ASSERT_EQ(Answering([&] { form_->menu_restore_Click(); }, file).size(), 2u);
    EXPECT_EQ(SettingsStore::GetValue("Password1", "absent"), "");
    EXPECT_TRUE(KeyringHoldsThePasswords());

    Answering([&] { form_->DelAcct_Click(); });
    EXPECT_EQ(keyring_.items.size(), 1u) << "a deleted account's item goes too";
}

TEST_F(KeyringPasswordsTest, WithTheSettingOffAnOAuthAccountsKeyringTokenStillGoesIntoTheBackup) {
    const std::string server = "imaps://;AUTH=XOAUTH2@imap.example.org";
    AddAccount(2, {kAddresses[1], server, "user", "", ""});
    keyring_.items[{kAddresses[1], QString::fromStdString("user@" + server)}] = "refresh-1";
    form_->ReDraw();
    const QString file = env_.path() + "/accounts.pls";
    EXPECT_EQ(Answering([&] { form_->menu_backup_Click(); }, file).size(), 1u);
    QFile backup(file);
    ASSERT_TRUE(backup.open(QIODevice::ReadOnly));
    const QByteArray hex = QByteArray::fromStdString(Cipher("refresh-1")).toHex(' ').toUpper();
    const QByteArray text = backup.readAll();
    EXPECT_TRUE(text.contains("\r\nPassword2=" + hex + "\r\n")) << text.toStdString();
}

} // namespace
} // namespace postlark
