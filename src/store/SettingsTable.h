// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings store's entries in memory and their file form.
//
// The file is "[Settings]" followed by one "key=value" line per entry, LF line ends. In keys
// and values the bytes 0x20-0x7E stand for themselves, except '\', '=', '[', ']', ';' and
// '#'; those, and every other byte (controls, CR, LF, DEL, 0x80-0xFF), are written as "\xHH"
// with two upper-case hex digits. So each entry is one line with exactly one raw '=', and no
// stored text can pass for a section header or a comment. Reading is lenient: raw bytes are
// taken as they stand; only a line without '=' or with a broken "\x" escape is skipped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace postlark {

// The entries of the Settings section in file order, with each key found in constant time.
// A removed entry stays in place as a gap until Compact, so removing many keys (renumbering
// accounts) costs no more than one pass. The index is open addressing over one array of entry
// positions: copying a table copies that array whole instead of allocating a node per key.
class SettingsTable {
public:
    // The Settings section of a file's text; a later line for the same key wins.
    static SettingsTable Parse(std::string_view text);
    // The file's text for the live entries.
    std::string Serialize() const;

    const std::string* Find(std::string_view key) const;
    void Reserve(std::size_t count);
    // Replaces the value in place, or appends the key at the end.
    void Set(std::string key, std::string value);
    void Erase(std::string_view key);
    // Drops the gaps left by removed entries.
    void Compact();

private:
    static constexpr std::size_t kEmpty = 0; // a slot holds an entry's position + 1

    struct Entry {
        std::string key;
        std::string value;
        std::size_t hash;         // of the key
        std::uint32_t keyEscapes; // bytes written as "\xHH" in the file
        std::uint32_t valueEscapes;
        bool live;
    };

    std::size_t FindSlot(std::string_view key, std::size_t hash) const;
    void Reindex(std::size_t count);

    std::vector<Entry> entries_;
    std::vector<std::size_t> slots_;
    std::size_t live_ = 0; // entries that are no gap
};

} // namespace postlark
