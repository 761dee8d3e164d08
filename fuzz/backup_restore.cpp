// SPDX-License-Identifier: GPL-3.0-or-later
// The account backup file and the restore's check, under arbitrary files and accounts.
//  - A file the check accepts restores exactly what it holds: every field as the profile
//    reader gives its entry (passwords from their hex text, a missing Program as empty),
//    NumAccts the number of accounts, no key of a former account above them left, other
//    settings untouched. A file the check refuses leaves the store byte-identical.
//  - Any accounts (fields without NUL or line breaks, stored passwords of any bytes) written
//    as a backup through the profile engine read back as the same accounts.
// The file is read once through the profile engine, as the restore command does.
#include "FuzzSupport.h"
#include "platform/system/ProfileString.h"
#include "store/AccountRecord.h"
#include "store/BackupFile.h"
#include "store/SettingsStore.h"
#include "store/modHEX.h"

#include <cstdint>
#include <fstream>
#include <fuzzer/FuzzedDataProvider.h>
#include <sstream>
#include <vector>

using postlark::AccountFields;
using postlark::AccountKey;
using postlark::AccountRecord;
using postlark::SettingsStore;
namespace BackupFile = postlark::BackupFile;
namespace win = postlark::win;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::optional<std::string> ReadEntry(const std::string& file, const std::string& name) {
    return win::ReadWholeProfileString(BackupFile::Section, name, file);
}

std::optional<std::vector<AccountRecord>> Check(const std::string& file) {
    const auto text = win::ReadProfileFile(file);
    if (!text)
        return std::nullopt;
    return BackupFile::ReadBackup(text->Entries(BackupFile::Section));
}

// Three stored accounts and an option, before every restore.
void PresetStore() {
    std::vector<SettingsStore::Change> changes;
    for (long i = 0; i < 3; ++i) {
        for (const auto field : AccountFields)
            changes.push_back(
                SettingsStore::Change::Set(AccountKey(field, i), "old" + std::to_string(i)));
    }
    changes.push_back(SettingsStore::Change::Set("NumAccts", "3"));
    changes.push_back(SettingsStore::Change::Set("AlertMsg", "1"));
    SettingsStore::Apply(changes);
}

std::string FieldText(FuzzedDataProvider& input, bool anyBytes) {
    std::string text = input.ConsumeRandomLengthString(24);
    if (!anyBytes)
        std::erase_if(text, [](char c) { return c == '\0' || c == '\r' || c == '\n'; });
    return text;
}

void RestoreFromFile(FuzzedDataProvider& input, const std::string& path) {
    const long listCount = input.ConsumeIntegralInRange(0, 5);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << input.ConsumeRemainingBytesAsString();
    const std::string storeBefore = ReadFile(SettingsStore::FilePath());

    const auto accounts = Check(path);
    if (!accounts) {
        POSTLARK_FUZZ_CHECK(ReadFile(SettingsStore::FilePath()) == storeBefore, storeBefore);
        return;
    }
    BackupFile::ReplaceAccounts(*accounts, listCount);

    const long count = static_cast<long>(accounts->size());
    POSTLARK_FUZZ_CHECK(SettingsStore::GetValue("NumAccts") == std::to_string(count), "");
    POSTLARK_FUZZ_CHECK(SettingsStore::GetValue("AlertMsg") == "1", "");
    for (long i = 0; i < count; ++i) {
        POSTLARK_FUZZ_CHECK(postlark::ReadAccount(i, "") == (*accounts)[std::size_t(i)], "");
        for (std::size_t f = 0; f < AccountFields.size(); ++f) {
            const std::string key = AccountKey(AccountFields[f], i);
            const auto entry = ReadEntry(path, key);
            const std::string expected =
                f == 3 ? postlark::modHEX::HexDecode(entry.value_or(""), 1) : entry.value_or("");
            POSTLARK_FUZZ_CHECK(SettingsStore::GetValue(key, "\x01") == expected, key);
        }
    }
    for (long i = count; i < std::max<long>(listCount, 3) + 2; ++i) {
        for (const auto field : AccountFields)
            POSTLARK_FUZZ_CHECK(SettingsStore::GetValue(AccountKey(field, i), "\x01") == "\x01",
                                AccountKey(field, i));
    }
}

void BackupAndRestore(FuzzedDataProvider& input, const std::string& path) {
    std::vector<AccountRecord> accounts(input.ConsumeIntegralInRange<std::size_t>(0, 3));
    for (AccountRecord& account : accounts) {
        for (std::size_t f = 0; f < AccountFields.size(); ++f)
            account.Field(f) = FieldText(input, f == 3);
    }
    std::remove(path.c_str());
    for (const auto& entry : BackupFile::BackupEntries(accounts)) {
        POSTLARK_FUZZ_CHECK(win::WritePrivateProfileStringA(BackupFile::Section, entry.Name.c_str(),
                                                            entry.Value.c_str(), path.c_str()),
                            entry.Name + "=" + entry.Value);
    }
    const auto restored = Check(path);
    POSTLARK_FUZZ_CHECK(restored.has_value(), ReadFile(path));
    POSTLARK_FUZZ_CHECK(*restored == accounts, ReadFile(path));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = postlark::fuzz::ScratchConfigHome() + "/accounts.pls";
    FuzzedDataProvider input(data, size);
    PresetStore();
    if (input.ConsumeBool())
        RestoreFromFile(input, path);
    else
        BackupAndRestore(input, path);
    return 0;
}
