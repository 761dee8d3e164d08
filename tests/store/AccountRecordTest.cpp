// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/AccountRecord.h"

#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace postlark;

namespace {

const std::string kAbsent = "<absent>";

AccountRecord Record(const std::string& tag) {
    return {tag + "@example.org", "pop." + tag, "user-" + tag, "secret-" + tag, "prog-" + tag};
}

std::string Stored(std::string_view field, long index) {
    return SettingsStore::GetValue(AccountKey(field, index), kAbsent);
}

AccountRecord StoredRecord(long index) {
    AccountRecord record;
    for (std::size_t f = 0; f < AccountFields.size(); ++f)
        record.Field(f) = Stored(AccountFields[f], index);
    return record;
}

bool AllFieldsAbsent(long index) {
    for (const auto field : AccountFields) {
        if (Stored(field, index) != kAbsent)
            return false;
    }
    return true;
}

class AccountRecordTest : public ::testing::Test {
protected:
    void AddThree() {
        AddAccount(0, Record("a"));
        AddAccount(1, Record("b"));
        AddAccount(2, Record("c"));
    }

    test::TestEnvironment env;
};

} // namespace

TEST_F(AccountRecordTest, KeysAreFieldNameAndDecimalNumber) {
    EXPECT_EQ(AccountKey("EmailAddress", 0), "EmailAddress0");
    EXPECT_EQ(AccountKey("POP", 12), "POP12");
    EXPECT_EQ(AccountFields[3], "Password");
}

TEST_F(AccountRecordTest, AddToEmptyListWritesAccountZeroAndCount) {
    AccountRecord record = Record("a");
    record.Program = "";
    AddAccount(0, record);
    EXPECT_EQ(StoredRecord(0), record);
    EXPECT_EQ(Stored("Program", 0), "") << "an empty Program is stored, not omitted";
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "1");
}

TEST_F(AccountRecordTest, AddFromAStaleListNeverOverwritesAnotherCopysAccount) {
    AddAccount(0, Record("a"));
    AddAccount(1, Record("b"));               // added by another running copy
    EXPECT_EQ(AddAccount(1, Record("c")), 2); // this copy's list still has one row
    EXPECT_EQ(StoredRecord(1), Record("b"));
    EXPECT_EQ(StoredRecord(2), Record("c"));
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "3");

    SettingsStore::SaveValue(NumAcctsKey, "many");
    EXPECT_EQ(AddAccount(3, Record("d")), 3); // an unreadable count falls back to the list
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "4");
}

TEST_F(AccountRecordTest, DeleteFromAStaleListKeepsAnotherCopysNewAccount) {
    for (long i = 0; i < 3; ++i)
        AddAccount(i, Record(std::string(1, char('a' + i))));
    DeleteAccount(0, 2); // this copy's list still shows two rows
    EXPECT_EQ(StoredRecord(0), Record("b"));
    EXPECT_EQ(StoredRecord(1), Record("c"));
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "2");
}

TEST_F(AccountRecordTest, ReadGivesTheCallersDefaultForMissingFields) {
    SettingsStore::SaveValue("POP0", "pop.example.org");
    const AccountRecord record = ReadAccount(0, BadRead);
    EXPECT_EQ(record, (AccountRecord{"Bad Read", "pop.example.org", "Bad Read", "", ""}));
    EXPECT_EQ(ReadAccount(0, "").EmailAddress, "");
}

TEST_F(AccountRecordTest, ModifyAndChangePasswordTouchOnlyTheirFields) {
    AddThree();
    ModifyAccount(1, Record("new"));
    AccountRecord expected = Record("new");
    expected.Password = "secret-b";
    EXPECT_EQ(StoredRecord(1), expected);
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "3");

    ChangePassword(1, "changed");
    expected.Password = "changed";
    EXPECT_EQ(StoredRecord(1), expected);
    EXPECT_EQ(StoredRecord(0), Record("a"));
    EXPECT_EQ(StoredRecord(2), Record("c"));
}

TEST_F(AccountRecordTest, DeleteFirstOfThreeMovesTheOthersDown) {
    AddThree();
    SettingsStore::SaveValue("AlertMsg", "1");
    DeleteAccount(0, 3);
    EXPECT_EQ(StoredRecord(0), Record("b"));
    EXPECT_EQ(StoredRecord(1), Record("c"));
    EXPECT_TRUE(AllFieldsAbsent(2));
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "2");
    EXPECT_EQ(SettingsStore::GetValue("AlertMsg"), "1");
}

TEST_F(AccountRecordTest, DeleteLastOfThreeRemovesOnlyItsFields) {
    AddThree();
    DeleteAccount(2, 3);
    EXPECT_EQ(StoredRecord(0), Record("a"));
    EXPECT_EQ(StoredRecord(1), Record("b"));
    EXPECT_TRUE(AllFieldsAbsent(2));
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "2");
}

TEST_F(AccountRecordTest, DeleteTheOnlyAccountLeavesAnEmptyList) {
    AddAccount(0, Record("a"));
    DeleteAccount(0, 1);
    EXPECT_TRUE(AllFieldsAbsent(0));
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "0");
}

TEST_F(AccountRecordTest, DeleteMovesMissingFieldsAsEmptyText) {
    AddThree();
    SettingsStore::DeleteValue("Program2"); // a store edited by hand
    SettingsStore::DeleteValue("EmailAddress2");
    DeleteAccount(1, 3);
    EXPECT_EQ(StoredRecord(0), Record("a"));
    AccountRecord moved = Record("c");
    moved.Program = "";
    moved.EmailAddress = "";
    EXPECT_EQ(StoredRecord(1), moved);
    EXPECT_TRUE(AllFieldsAbsent(2));
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "2");
}

TEST_F(AccountRecordTest, DeleteOutsideTheListChangesNothing) {
    AddThree();
    DeleteAccount(3, 3);
    DeleteAccount(-1, 3);
    for (long i = 0; i < 3; ++i)
        EXPECT_FALSE(AllFieldsAbsent(i));
    EXPECT_EQ(SettingsStore::GetValue(NumAcctsKey), "3");
}
