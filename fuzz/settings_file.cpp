// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file reader and writer under arbitrary file contents, keys and values.
//  - The single-key reader (GetValue) and the whole-file reader (the view an update sees)
//    agree on every key the file mentions, and on the fuzzed key.
//  - An update that changes nothing leaves the file byte-identical.
//  - A value saved under any key (every byte value allowed) reads back exactly, every other
//    key keeps its value, the file stays owner-only; after deleting the key it is absent and
//    the others are still unchanged.
#include "FuzzSupport.h"
#include "store/SettingsStore.h"

#include <cstdint>
#include <fstream>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <sys/stat.h>

using postlark::SettingsStore;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The stored value as GetValue sees it: two different defaults tell "absent" apart.
std::optional<std::string> SingleKeyRead(const std::string& key) {
    const std::string first = SettingsStore::GetValue(key, "\x01");
    if (first == "\x01" && SettingsStore::GetValue(key, "\x02") == "\x02")
        return std::nullopt;
    return first;
}

std::map<std::string, std::optional<std::string>> WholeFileRead(const std::set<std::string>& keys) {
    std::map<std::string, std::optional<std::string>> values;
    SettingsStore::Update([&](const SettingsStore::Lookup& stored) {
        for (const auto& key : keys)
            values[key] = stored(key);
        return std::vector<SettingsStore::Change>{};
    });
    return values;
}

int Hex(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Every text before an '=' in the file, as written and with "\xHH" escapes decoded: a
// superset of the keys the file holds.
std::set<std::string> MentionedKeys(const std::string& text) {
    std::set<std::string> keys;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string raw = line.substr(0, equals);
        keys.insert(raw);
        std::string decoded;
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\\' && i + 3 < raw.size() && raw[i + 1] == 'x' && Hex(raw[i + 2]) >= 0 &&
                Hex(raw[i + 3]) >= 0) {
                decoded += static_cast<char>(Hex(raw[i + 2]) * 16 + Hex(raw[i + 3]));
                i += 3;
            } else {
                decoded += raw[i];
            }
        }
        keys.insert(decoded);
    }
    return keys;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    postlark::fuzz::ScratchConfigHome();
    FuzzedDataProvider input(data, size);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string value = input.ConsumeRandomLengthString(2048);
    const std::string file = input.ConsumeRemainingBytesAsString();

    const std::string path = SettingsStore::FilePath();
    SettingsStore::DeleteValue("\x03"); // creates the folder
    WriteFile(path, file);

    std::set<std::string> keys = MentionedKeys(file);
    keys.insert(key);
    const auto before = WholeFileRead(keys);
    for (const auto& [k, stored] : before)
        POSTLARK_FUZZ_CHECK(SingleKeyRead(k) == stored, k);
    POSTLARK_FUZZ_CHECK(ReadFile(path) == file, file);

    SettingsStore::SaveValue(key, value);
    POSTLARK_FUZZ_CHECK(SingleKeyRead(key) == value, key);
    const auto saved = WholeFileRead(keys);
    for (const auto& [k, stored] : saved) {
        POSTLARK_FUZZ_CHECK(SingleKeyRead(k) == stored, k);
        if (k != key)
            POSTLARK_FUZZ_CHECK(stored == before.at(k), k);
    }
    POSTLARK_FUZZ_CHECK(saved.at(key) == value, key);
    struct stat info {};
    POSTLARK_FUZZ_CHECK(::stat(path.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600, path);

    SettingsStore::DeleteValue(key);
    POSTLARK_FUZZ_CHECK(!SingleKeyRead(key), key);
    const auto deleted = WholeFileRead(keys);
    for (const auto& [k, stored] : deleted) {
        if (k != key)
            POSTLARK_FUZZ_CHECK(stored == before.at(k), k);
    }
    return 0;
}
