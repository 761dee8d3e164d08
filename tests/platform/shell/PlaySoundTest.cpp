// SPDX-License-Identifier: GPL-3.0-or-later
// PlaySoundA: the new-mail alias reaches the sound theme without ever holding up the caller,
// whatever sound hardware the machine has.
#include "platform/shell/PlaySound.h"

#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

namespace postlark::win {
namespace {

class PlaySoundTest : public ::testing::Test {
protected:
    void SetUp() override { SetSoundLogging(true); }
    void TearDown() override { SetSoundLogging(false); }
};

TEST_F(PlaySoundTest, MailBeepPlaysTheNewMailEventWithoutWaiting) {
    for (const char* alias : {"MailBeep", "mailbeep"}) {
        QElapsedTimer timer;
        timer.start();
        PlaySoundA(alias, 0, SND_ALIAS | SND_ASYNC);
        EXPECT_LT(timer.elapsed(), 200) << alias;
    }
    EXPECT_EQ(SoundLog(), QStringList({"message-new-email", "message-new-email"}));

    // The sound library is loaded on demand; after a sound it must be there.
    QFile maps(QStringLiteral("/proc/self/maps"));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_TRUE(maps.readAll().contains("libcanberra.so")) << "the sound library was not loaded";
}

TEST_F(PlaySoundTest, UnknownAliasesAndMissingFilesAreRefused) {
    EXPECT_EQ(PlaySoundA("NoSuchSound", 0, SND_ALIAS | SND_ASYNC), FALSE_);
    EXPECT_EQ(PlaySoundA("", 0, SND_ALIAS | SND_ASYNC), FALSE_);
    EXPECT_TRUE(SoundLog().isEmpty());
    EXPECT_EQ(PlaySoundA("/nonexistent/ding.oga", 0, SND_FILENAME | SND_ASYNC), FALSE_);
    EXPECT_EQ(SoundLog(), QStringList({"/nonexistent/ding.oga"}));
}

} // namespace
} // namespace postlark::win
