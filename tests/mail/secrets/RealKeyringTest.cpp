// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's keyring itself: gnome-keyring on a private session bus that keyring_session.sh
// starts (tests/CMakeLists.txt runs these tests through it); skipped when run without it.
#include "PasswordReading.h"
#include "mail/secrets/Keyring.h"
#include "mail/secrets/KeyringWait.h"
#include "store/ApplicationKey.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <random>

namespace postlark {
namespace {

QString Session() {
    return qEnvironmentVariable("POSTLARK_KEYRING_SESSION");
}

TEST(RealKeyring, AnswersAsTheSessionAllows) {
    if (Session().isEmpty())
        GTEST_SKIP() << "runs in keyring_session.sh";
    Keyring& keyring = SystemKeyring(); // the desktop's, from the keyring library
    const QString service = "ann@example.org", key = "ann@imaps://imap.example.org";
    const QString secret = QStringLiteral("p\u00e4ss word");
    if (Session() == "unlocked") {
        EXPECT_TRUE(WriteAndWait(keyring, service, key, secret).ok);
        KeyringResult read = ReadAndWait(keyring, service, key);
        EXPECT_TRUE(read.ok && read.secret == secret);
        EXPECT_TRUE(DeleteAndWait(keyring, service, key).ok);
        read = ReadAndWait(keyring, service, key);
        EXPECT_TRUE(read.notFound);
        EXPECT_EQ(read.error, NoKeyringSecretText);
        EXPECT_TRUE(DeleteAndWait(keyring, service, key).ok) << "an absent item";
        return;
    }
    const char* reason = Session() == "locked" ? KeyringLockedText : NoKeyringText;
    for (const KeyringResult& result :
         {WriteAndWait(keyring, service, key, secret), ReadAndWait(keyring, service, key)}) {
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.error, reason);
    }
}

TEST(RealKeyring, KillsDuringMovesLeaveEveryPasswordReadable) {
    if (Session() != "unlocked")
        GTEST_SKIP() << "runs in keyring_session.sh unlocked";
    test::TestEnvironment env;
    std::string key = BuildApplicationKey();
    const std::string passwords[] = {"first secret", "second secret", "third secret"};
    for (long i = 0; i < 3; ++i)
        AddAccount(i, {"user" + std::to_string(i) + "@example.org", "pop.example.org", "user",
                       PassCryptModule::EncryptText(passwords[i], key), ""});
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> moment(0, 40);
    for (int round = 0; round < 20; ++round) {
        QProcess mover;
        mover.start(POSTLARK_SECRET_MOVER, {});
        ASSERT_TRUE(mover.waitForReadyRead(10000)) << "the first round of moves";
        QThread::msleep(static_cast<unsigned long>(moment(random)));
        mover.kill(); // SIGKILL
        ASSERT_TRUE(mover.waitForFinished(5000));
        ASSERT_EQ(mover.exitStatus(), QProcess::CrashExit) << "the moves went on until killed";
        for (long i = 0; i < 3; ++i)
            EXPECT_TRUE(test::ReadPassword(i, key) == passwords[i])
                << "kill " << round << ", account " << i << ", keyring passwords "
                << SettingsStore::GetValue("KeyringPasswords");
    }
}

} // namespace
} // namespace postlark
