// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/ToldState.h"

#include "ArrivalsTesting.h"

#include <QFile>
#include <QFileInfo>

namespace postlark {
namespace {

using Ids = std::vector<QByteArray>;
using ToldStateTest = test::StateHome;

// The owner's, group's and others' permissions.
int ModeOf(const QString& path) {
    return (QFileInfo(path).permissions() & 0x7077).toInt();
}

const QString kKey = "a@example.org\nann\nimaps://mail.example.org";

// The state as a new program reads it from the file.
ToldState Restarted(const QString& key = kKey) {
    EXPECT_TRUE(ToldState::Flush());
    ToldState::ForgetRead();
    return ToldState(key);
}

TEST_F(ToldStateTest, ToldOnceAcrossRestartsUntilTheMailboxChanges) {
    EXPECT_TRUE(ToldState(kKey).MarkTold("77", {"3", "4", "9"}, {"3", "4", "9"}));
    const ToldState restarted = Restarted();
    EXPECT_EQ(restarted.Untold("77", {"3", "4", "5", "9", "10"}), (Ids{"5", "10"}));
    EXPECT_EQ(restarted.Untold("78", {"3", "4"}), (Ids{"3", "4"}));
    EXPECT_EQ(Restarted("b@example.org").Untold("77", {"3"}), (Ids{"3"}));
}

TEST_F(ToldStateTest, KeepsOnlyWhatIsStillOnTheServer) {
    ToldState state(kKey);
    state.MarkTold("", {"a", "b", "c"}, {"a", "b", "c"});
    state.MarkTold("", {"d"}, {"b", "d"}); // a and c deleted
    EXPECT_EQ(Restarted().Untold("", {"a", "b", "c", "d"}), (Ids{"a", "c"}));
}

TEST_F(ToldStateTest, FileIsOwnerOnlyAndSmall) {
    Ids uidls;
    for (int i = 0; i < 1000; ++i)
        uidls.push_back(QByteArray::number(i).leftJustified(70, 'u'));
    ToldState state(kKey);
    ASSERT_TRUE(state.MarkTold("", uidls, uidls));
    EXPECT_TRUE(Restarted().Untold("", uidls).empty());
    const QFileInfo file(ToldState::FilePath());
    EXPECT_LE(file.size(), 100 * 1000);
    EXPECT_EQ(ModeOf(ToldState::FilePath()), 0x6000); // rw-------
    EXPECT_EQ(ModeOf(ToldState::Folder()), 0x7000);   // rwx------
    // Ids no UIDL may be (too long, a line break) are kept too, by a hash.
    const Ids odd = {QByteArray(500, 'x'), "a\nuids 1:99", "#x"};
    ASSERT_TRUE(state.MarkTold("", odd, odd));
    EXPECT_TRUE(Restarted().Untold("", odd).empty());
    EXPECT_LE(QFileInfo(ToldState::FilePath()).size(), 350);
}

TEST_F(ToldStateTest, DamagedFileMeansNothingTold) {
    ToldState state(kKey);
    state.MarkTold("5", {"1", "2"}, {"1", "2"});
    ASSERT_TRUE(ToldState::Flush());
    QFile file(ToldState::FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const QByteArray good = file.readAll();
    for (const QByteArray& damaged : {good.left(good.size() - 3), good + "uids 9:2\n",
                                      good + "junk\n", QByteArray("\xFF\xFE")}) {
        file.resize(0);
        file.write(damaged);
        file.flush();
        ToldState::ForgetRead();
        EXPECT_EQ(ToldState(kKey).Untold("5", {"1", "2"}), (Ids{"1", "2"})) << damaged.data();
    }
}

} // namespace
} // namespace postlark
