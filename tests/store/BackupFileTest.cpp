// SPDX-License-Identifier: GPL-3.0-or-later
// The accounts of a backup file: which entries a backup removes, the checks a restore makes
// before it stores anything, and the one-write replacement of the stored accounts.
#include "store/BackupFile.h"

#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>
#include <map>

using namespace postlark;
using namespace postlark::BackupFile;

namespace {

using Entries = std::map<std::string, std::string>;

std::optional<std::vector<AccountRecord>> Read(const Entries& file) {
    const std::vector<NamedValue> entries(file.begin(), file.end());
    return ReadBackup(entries);
}

Entries TwoAccounts() {
    return {{"NumAccts", "2"},        {"EmailAddress0", "a@example.org"},
            {"EmailAddress1", "b@x"}, {"POP0", "pop.a"},
            {"POP1", "pop.b"},        {"UserName0", "ann"},
            {"UserName1", "bob"},     {"Password0", "88 99 A6"},
            {"Password1", ""},        {"Program0", "mutt"},
            {"Program1", ""}};
}

TEST(BackupFileTest, SurplusEntriesAreAccountFieldsNumberedAtOrAboveTheCount) {
    EXPECT_TRUE(IsSurplusEntry("EmailAddress2", 2));
    EXPECT_TRUE(IsSurplusEntry("program17", 2));
    EXPECT_TRUE(IsSurplusEntry("POP99999999999999999999999", 2));
    EXPECT_FALSE(IsSurplusEntry("POP1", 2));
    EXPECT_FALSE(IsSurplusEntry("NumAccts", 0));
    EXPECT_FALSE(IsSurplusEntry("POP", 0));
    EXPECT_FALSE(IsSurplusEntry("POP2x", 0));
    EXPECT_FALSE(IsSurplusEntry("MyPOP5", 0));
}

TEST(BackupFileTest, ACompleteFileReadsBackEveryField) {
    Entries file = TwoAccounts();
    file["NumAccts"] = " 2 ";
    file.erase("Program1"); // a missing program is an empty one
    const auto accounts = Read(file);
    ASSERT_TRUE(accounts);
    ASSERT_EQ(accounts->size(), 2u);
    EXPECT_EQ((*accounts)[0],
              (AccountRecord{"a@example.org", "pop.a", "ann", "\x88\x99\xA6", "mutt"}));
    EXPECT_EQ((*accounts)[1], (AccountRecord{"b@x", "pop.b", "bob", "", ""}));
}

TEST(BackupFileTest, AnyMissingOrMalformedPartRefusesTheWholeFile) {
    const auto refused = [](const std::string& name, std::optional<std::string> value) {
        Entries file = TwoAccounts();
        if (value)
            file[name] = *value;
        else
            file.erase(name);
        return !Read(file).has_value();
    };
    EXPECT_TRUE(refused("NumAccts", std::nullopt));
    for (const char* count : {"", "two", "-1", "1.5", "32768", "3"}) // 3: no third account
        EXPECT_TRUE(refused("NumAccts", count)) << count;
    for (const char* entry : {"EmailAddress1", "POP1", "UserName0", "Password1"})
        EXPECT_TRUE(refused(entry, std::nullopt)) << entry;
    for (const char* hex : {"88 99 a6", "88 99 A", "88 99 A6 ", "8G", "88 99 A6 0"})
        EXPECT_TRUE(refused("Password0", hex)) << hex;
    EXPECT_FALSE(refused("NumAccts", "1")); // fewer accounts than the file holds
}

TEST(BackupFileTest, TheFirstEntryOfAKeyInAnyCaseCountsAndOtherNamesAreIgnored) {
    const std::vector<NamedValue> entries = {
        {"numaccts", "1"},      {"NumAccts", "2"},          {"POP-0", "minus"}, {"POP00", "zeros"},
        {"EMAILADDRESS0", "a"}, {"EmailAddress0", "later"}, {"POP0", "pop"},    {"UserName0", "u"},
        {"Password0", "41"},    {"EmailAddress1", "b"},     {"POP1", "p"},      {"UserName1", "v"},
        {"Password1", "42"},    {"Program0x", "odd"},       {"XPOP0", "other"}};
    const auto accounts = ReadBackup(entries);
    ASSERT_TRUE(accounts);
    ASSERT_EQ(accounts->size(), 1u); // the first NumAccts; account 1 is beyond it
    EXPECT_EQ((*accounts)[0], (AccountRecord{"a", "pop", "u", "A", ""}));

    // Only a key written the way the program writes it stands for the field.
    const std::vector<NamedValue> oddNumbers = {{"NumAccts", "1"},
                                                {"EmailAddress0", "a"},
                                                {"POP00", "p"},
                                                {"UserName0", "u"},
                                                {"Password0", ""}};
    EXPECT_FALSE(ReadBackup(oddNumbers));
}

TEST(BackupFileTest, EntriesMadeFromTheStoreAreThoseOfTheStoredAccounts) {
    test::TestEnvironment env;
    EXPECT_EQ(StoredBackupEntries(0), BackupEntries({}));
    AddAccount(0, {"a@example.org", "pop.a", "ann", "\x88\x99\xA6", "mutt"});
    AddAccount(1, {" b@x", "pop.b", "'bob'", "", ""});
    AddAccount(2, {"c@x", "", "carl", "\x01", " "});
    for (long count : {1, 3, 4}) // 4: the fourth account's fields are absent
        EXPECT_EQ(StoredBackupEntries(count), BackupEntries(StoredAccounts(count))) << count;
}

TEST(BackupFileTest, ReplacingAccountsDropsEveryFormerAccountAndKeepsOtherSettings) {
    test::TestEnvironment env;
    for (long i = 0; i < 3; ++i)
        AddAccount(i, {"old" + std::to_string(i), "pop", "user", "pw", "prog"});
    SettingsStore::SaveValue("POP5", "left by a hand edit");
    SettingsStore::SaveValue("AlertSound", "1");

    ReplaceAccounts({{"new@example.org", "pop.new", "me", "", ""}}, 2);
    EXPECT_EQ(ReadAccount(0, "<absent>"),
              (AccountRecord{"new@example.org", "pop.new", "me", "", ""}));
    EXPECT_EQ(SettingsStore::GetValue("Program0", "<absent>"), "") << "stored, not omitted";
    EXPECT_EQ(SettingsStore::GetValue("NumAccts"), "1");
    for (const char* gone : {"EmailAddress1", "Program1", "UserName2", "Password2"})
        EXPECT_EQ(SettingsStore::GetValue(gone, "<absent>"), "<absent>") << gone;
    EXPECT_EQ(SettingsStore::GetValue("AlertSound"), "1");
    // Accounts 3 and 4 never existed, so the stray key above them stays.
    EXPECT_EQ(SettingsStore::GetValue("POP5"), "left by a hand edit");
}

} // namespace
