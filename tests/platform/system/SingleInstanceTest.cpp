// SPDX-License-Identifier: GPL-3.0-or-later
// The single-instance lock: where it lives without a runtime folder, and that nothing another
// user could have put in its place is trusted or followed.
#include "platform/system/SingleInstance.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace postlark {
namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtime_ = qgetenv("XDG_RUNTIME_DIR");
        qunsetenv("XDG_RUNTIME_DIR");
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", runtime_); }

    QString Private() const { return env_.configHome() + "/Postlark"; }

    test::TestEnvironment env_;
    QByteArray runtime_;
};

TEST_F(SingleInstanceTest, WithoutARuntimeFolderTheLockIsInThePrivateFolder) {
    EXPECT_EQ(SingleInstance::LockPath(Private()), Private() + "/instance.lock");
    EXPECT_EQ(SingleInstance::LockPath(), QString()) << "never a shared temporary folder";

    // A folder made open to others is closed again before the lock goes in.
    ASSERT_TRUE(QDir().mkpath(Private()));
    ASSERT_EQ(::chmod(QFile::encodeName(Private()).constData(), 0777), 0);
    SingleInstance first(Private());
    EXPECT_FALSE(first.AnotherCopyRunning());
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(Private()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);
    SingleInstance second(Private());
    EXPECT_TRUE(second.AnotherCopyRunning());
}

TEST_F(SingleInstanceTest, ASymbolicLinkInTheLocksPlaceIsNotFollowed) {
    ASSERT_TRUE(QDir().mkpath(Private()));
    QFile::setPermissions(Private(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString target = env_.path() + "/elsewhere";
    ASSERT_TRUE(QFile::link(target, SingleInstance::LockPath(Private())));
    SingleInstance copy(Private());
    EXPECT_FALSE(copy.AnotherCopyRunning());
    EXPECT_FALSE(QFileInfo::exists(target)) << "the lock was created through the link";

    // The same in a runtime folder.
    const QString runtime = env_.runtimeDir();
    ASSERT_TRUE(QDir().mkpath(runtime));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    ASSERT_TRUE(QFile::link(target, SingleInstance::LockPath()));
    SingleInstance other;
    EXPECT_FALSE(other.AnotherCopyRunning());
    EXPECT_FALSE(QFileInfo::exists(target));
}

} // namespace
} // namespace postlark
