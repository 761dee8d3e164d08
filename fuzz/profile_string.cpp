// SPDX-License-Identifier: GPL-3.0-or-later
// The profile-file engine under arbitrary files, section and key names, values and requests.
//  - A write the engine accepts is read back: the value as the documented reading gives it
//    (surrounding blanks dropped, then one pair of matching quotes); a deleted entry or section
//    reads as the default.
//  - Every other entry reads as before, and every other line stays byte-identical: the file
//    differs only in the lines of the entry (or section) written, plus a line end added to a
//    last line that had none.
//  - A refused write leaves the file byte-identical, and writing the same thing twice changes
//    nothing the second time.
//  - A section's entries read straight from the text are those its table of lines holds.
#include "FuzzSupport.h"
#include "platform/system/ProfileString.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <sstream>
#include <vector>

namespace win = postlark::win;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The engine's answer for one request, with a buffer large enough for all of it.
std::string Get(const char* section, const char* key, const std::string& path) {
    std::vector<char> buffer(256);
    for (;;) {
        const win::DWORD got =
            win::GetPrivateProfileStringA(section, key, "\x01", buffer.data(),
                                          static_cast<win::DWORD>(buffer.size()), path.c_str());
        if (got + 2 < buffer.size())
            return std::string(buffer.data(), got);
        buffer.resize(buffer.size() * 2);
    }
}

std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = list.find('\0', at);
        names.push_back(list.substr(at, end - at));
        at = end == std::string::npos ? list.size() : end + 1;
    }
    return names;
}

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

// Every entry the file shows: (section, key) -> value, through the engine's own listings.
std::map<std::pair<std::string, std::string>, std::string> Entries(const std::string& path) {
    std::map<std::pair<std::string, std::string>, std::string> entries;
    for (const std::string& section : Names(Get(nullptr, nullptr, path))) {
        for (const std::string& key : Names(Get(section.c_str(), nullptr, path)))
            entries[{section, key}] = Get(section.c_str(), key.c_str(), path);
    }
    return entries;
}

struct Line {
    std::string text, end;
};

std::vector<Line> Lines(std::string_view text) {
    std::vector<Line> lines;
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        Line line;
        line.text = std::string(text.substr(0, newline));
        if (newline != std::string_view::npos) {
            line.end = "\n";
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.pop_back();
                line.end = "\r\n";
            }
        }
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        lines.push_back(std::move(line));
    }
    return lines;
}

// The value a reader gets for a written value.
std::string AsRead(std::string value) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.erase(0, 1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.pop_back();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = postlark::fuzz::ScratchConfigHome() + "/backup.pls";
    FuzzedDataProvider input(data, size);
    const int request = input.ConsumeIntegralInRange(0, 2); // set, delete entry, delete section
    // Names and values as the C interface sees them: up to the first NUL.
    const std::string section = input.ConsumeRandomLengthString(16).c_str();
    const std::string key = input.ConsumeRandomLengthString(16).c_str();
    const std::string value = input.ConsumeRandomLengthString(64).c_str();
    const std::string before = input.ConsumeRemainingBytesAsString();
    std::ofstream(path, std::ios::binary | std::ios::trunc) << before;

    // A section read straight from the text is the section the table of lines holds.
    POSTLARK_FUZZ_CHECK(win::ProfileText::EntriesOf(before, section) ==
                            win::ProfileText(before).Entries(section),
                        section + " | " + before);

    const auto entriesBefore = Entries(path);
    // A second section or entry of the same name comes to light when the first is deleted.
    const auto count = [](const std::vector<std::string>& names, const std::string& name) {
        return std::count_if(names.begin(), names.end(),
                             [&](const std::string& n) { return SameName(n, name); });
    };
    const bool duplicated =
        (request == 1 && count(Names(Get(section.c_str(), nullptr, path)), key) > 1) ||
        (request == 2 && count(Names(Get(nullptr, nullptr, path)), section) > 1);
    const char* keyArg = request == 2 ? nullptr : key.c_str();
    const char* valueArg = request == 0 ? value.c_str() : nullptr;
    if (!win::WritePrivateProfileStringA(section.c_str(), keyArg, valueArg, path.c_str())) {
        POSTLARK_FUZZ_CHECK(ReadFile(path) == before, before);
        return 0;
    }
    const std::string after = ReadFile(path);

    // The entry written reads back.
    const std::string read = Get(section.c_str(), key.c_str(), path);
    if (!duplicated)
        POSTLARK_FUZZ_CHECK(read == (request == 0 ? AsRead(value) : "\x01"),
                            section + " | " + key + " | " + value + " | " + read);

    // Every other entry reads as before.
    const auto entriesAfter = Entries(path);
    const auto touched = [&](const std::pair<std::string, std::string>& entry) {
        return SameName(entry.first, section) && (request == 2 || SameName(entry.second, key));
    };
    for (const auto& [entry, stored] : entriesBefore) {
        if (touched(entry))
            continue;
        const auto now = entriesAfter.find(entry);
        POSTLARK_FUZZ_CHECK(now != entriesAfter.end() && now->second == stored,
                            entry.first + " | " + entry.second);
    }

    // Only the lines of the written entry or section differ. A line is the same when its
    // text is, and its end too, or a last line without an end got one.
    const auto b = Lines(before), a = Lines(after);
    const auto same = [](const Line& old, const Line& now) {
        return old.text == now.text &&
               (old.end == now.end || (old.end.empty() && now.end == "\r\n"));
    };
    std::size_t prefix = 0;
    while (prefix < b.size() && prefix < a.size() && same(b[prefix], a[prefix]))
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < b.size() - prefix && suffix < a.size() - prefix &&
           same(b[b.size() - 1 - suffix], a[a.size() - 1 - suffix]))
        ++suffix;
    const std::size_t removed = b.size() - prefix - suffix, added = a.size() - prefix - suffix;
    if (request == 0)
        POSTLARK_FUZZ_CHECK(removed <= 1 && added <= 3, after);
    else if (request == 1)
        POSTLARK_FUZZ_CHECK(removed <= 1 && added == 0, after);
    else
        POSTLARK_FUZZ_CHECK(added == 0, after);

    // The same write again changes nothing.
    if (duplicated)
        return 0;
    POSTLARK_FUZZ_CHECK(
        win::WritePrivateProfileStringA(section.c_str(), keyArg, valueArg, path.c_str()), after);
    POSTLARK_FUZZ_CHECK(ReadFile(path) == after, after);
    return 0;
}
