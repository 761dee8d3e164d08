// SPDX-License-Identifier: GPL-3.0-or-later
// Where account secrets live and how they move, against a store in a temporary folder and the
// keyring in memory.
#include "PasswordReading.h"
#include "mail/secrets/RecordSecrets.h"
#include "mail/secrets/SecretMoves.h"
#include "store/ApplicationKey.h"
#include "store/SettingsStore.h"
#include "support/MemoryKeyring.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

namespace postlark {
namespace {

using Mood = test::MemoryKeyring::Mood;

class SecretsTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (long i = 0; i < 3; ++i) {
            std::string key = key_;
            AddAccount(i, {kAddresses[i], kServers[i], "user",
                           PassCryptModule::EncryptText(kPasswords[i], key), ""});
        }
    }
    bool AllReadable() { // compares without printing a password
        for (long i = 0; i < 3; ++i) {
            if (test::ReadPassword(i, key_) != kPasswords[i])
                return false;
        }
        return true;
    }
    static QByteArray FileBytes() {
        QFile file(QString::fromStdString(SettingsStore::FilePath()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    const char* kAddresses[3] = {"ann@example.org", "bob@example.org", "ann@example.org"};
    const char* kServers[3] = {"pop.example.org", "imaps://mail.example.org", "pop.example.org"};
    const std::string kPasswords[3] = {"first pw", "second pw", "first pw"};
    test::TestEnvironment env_;
    test::MemoryKeyring keyring_;
    std::string key_ = BuildApplicationKey();
};

TEST_F(SecretsTest, MovesOnAndOffKeepEveryPasswordReadable) {
    ASSERT_EQ(MoveSecretsToKeyring(key_), "");
    EXPECT_EQ(SettingsStore::GetValue(KeyringPasswordsKey), "1");
    for (long i = 0; i < 3; ++i)
        EXPECT_EQ(SettingsStore::GetValue(AccountKey("Password", i), "absent"), "");
    EXPECT_EQ(keyring_.items.size(), 2u) << "accounts 0 and 2 share one item";
    EXPECT_TRUE(AllReadable());

    ASSERT_EQ(MoveSecretsToFile(key_), "");
    EXPECT_EQ(SettingsStore::GetValue(KeyringPasswordsKey), "0");
    EXPECT_TRUE(keyring_.items.empty());
    keyring_.mood = Mood::NoService;
    EXPECT_TRUE(AllReadable()) << "passwords in the file need no keyring";
}

TEST_F(SecretsTest, AFailedMoveSaysWhyAndChangesNothing) {
    const struct {
        Mood mood;
        int failingWrite;
        const char* reason;
    } cases[] = {{Mood::Locked, 0, KeyringLockedText},
                 {Mood::NoService, 0, NoKeyringText},
                 {Mood::Refusing, 0, KeyringRefusedText},
                 {Mood::Open, 2, "The keyring failed: no space left"}};
    const QByteArray file = FileBytes();
    for (const auto& c : cases) {
        keyring_.mood = c.mood;
        keyring_.writes = 0;
        keyring_.failingWrite = c.failingWrite;
        EXPECT_EQ(MoveSecretsToKeyring(key_), c.reason);
        EXPECT_EQ(FileBytes(), file) << c.reason;
        EXPECT_TRUE(keyring_.items.empty()) << "the item written first is removed again";
    }
    // The way back fails alike, and a check is told why.
    keyring_.mood = Mood::Open;
    keyring_.failingWrite = 0;
    ASSERT_EQ(MoveSecretsToKeyring(key_), "");
    const QByteArray moved = FileBytes();
    keyring_.mood = Mood::Locked;
    EXPECT_EQ(MoveSecretsToFile(key_), KeyringLockedText);
    EXPECT_EQ(FileBytes(), moved);
    QString reason;
    EXPECT_EQ(test::ReadPassword(0, key_, &reason), std::nullopt);
    EXPECT_EQ(reason, KeyringLockedText);
}

TEST_F(SecretsTest, AModifiedAddressTakesTheItemAlongAndLeavesASharedOneInPlace) {
    ASSERT_EQ(MoveSecretsToKeyring(key_), "");
    const QString oldKey = QStringLiteral("user@pop.example.org");
    AccountRecord renamed = ReadAccount(0, "");
    renamed.EmailAddress = "ann@example.net";
    EXPECT_EQ(ModifyAccountAndSecret(0, renamed, key_), "");
    EXPECT_TRUE(keyring_.items.count({"ann@example.net", oldKey}));
    EXPECT_TRUE(keyring_.items.count({"ann@example.org", oldKey})) << "account 2 still uses it";
    renamed = ReadAccount(2, "");
    renamed.EmailAddress = "ann@example.net";
    EXPECT_EQ(ModifyAccountAndSecret(2, renamed, key_), "");
    EXPECT_EQ(keyring_.items.size(), 2u) << "the old item went with its last account";
    EXPECT_TRUE(AllReadable());
}

TEST_F(SecretsTest, AnOAuthTokenGoesToTheKeyringOrElseToTheFile) {
    const AccountValues oauth{"cat@example.com", "imaps://;AUTH=XOAUTH2@imap.example.com", "cat",
                              ""};
    AddAccount(3, {oauth.address, oauth.server, oauth.user, "", ""});
    for (const Mood mood : {Mood::NoService, Mood::Open}) {
        keyring_.mood = mood;
        bool fellBack = false;
        EXPECT_EQ(StoreAccountSecret(3, oauth, "token", key_, &fellBack), "");
        EXPECT_EQ(fellBack, mood != Mood::Open);
        EXPECT_EQ(SettingsStore::GetValue("Password3").empty(), mood == Mood::Open);
        EXPECT_TRUE(test::ReadPassword(3, key_) == "token");
    }
    EXPECT_EQ(keyring_.items.size(), 1u) << "the setting is off: passwords stay in the file";
}

} // namespace
} // namespace postlark
