// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/SettingsTable.h"

#include "platform/base/AsciiCase.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

namespace postlark {

namespace {

constexpr std::string_view kSectionHeader = "[Settings]";

constexpr bool EscapedByte(unsigned char c) {
    return c < 0x20 || c > 0x7E || c == '\\' || c == '=' || c == '[' || c == ']' || c == ';' ||
           c == '#';
}

// EscapedByte for every byte, looked up.
constexpr auto kEscaped = [] {
    std::array<bool, 256> escaped{};
    for (int c = 0; c < 256; ++c)
        escaped[std::size_t(c)] = EscapedByte(static_cast<unsigned char>(c));
    return escaped;
}();

// How many bytes of the text the file writes as "\xHH": counted once when an entry is set,
// so a save writes the many entries that need none as they stand.
std::uint32_t EscapeCount(std::string_view text) {
    std::uint32_t count = 0;
    for (const char c : text)
        count += kEscaped[static_cast<unsigned char>(c)];
    return count;
}

// Writes the escaped text at `out` and returns the end of what it wrote.
char* WriteEscaped(char* out, std::string_view text, std::uint32_t escapes) {
    if (escapes == 0) {
        std::memcpy(out, text.data(), text.size());
        return out + text.size();
    }
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (!kEscaped[c]) {
            *out++ = ch;
            continue;
        }
        *out++ = '\\';
        *out++ = 'x';
        *out++ = hex[c >> 4];
        *out++ = hex[c & 0x0F];
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The text with its "\xHH" escapes decoded; nullopt for a '\' that starts no whole escape.
std::optional<std::string> Unescape(std::string_view text) {
    std::size_t slash = text.find('\\');
    if (slash == std::string_view::npos)
        return std::string(text);
    std::string out;
    out.reserve(text.size());
    while (slash != std::string_view::npos) {
        out.append(text.data(), slash);
        if (slash + 3 >= text.size() || text[slash + 1] != 'x')
            return std::nullopt;
        const int high = HexDigit(text[slash + 2]), low = HexDigit(text[slash + 3]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        text.remove_prefix(slash + 4);
        slash = text.find('\\');
    }
    out.append(text);
    return out;
}

bool IsSettingsHeader(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return SameAsciiLetters(line, kSectionHeader);
}

// Calls visit(key text, value text) for each line of the Settings section, in file order;
// both texts are still escaped.
template <typename Visit> void ForEachLine(std::string_view text, Visit&& visit) {
    bool inSection = false;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[') {
            inSection = IsSettingsHeader(line);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (inSection && equals != std::string_view::npos)
            visit(line.substr(0, equals), line.substr(equals + 1));
    }
}

std::size_t HashOf(std::string_view key) {
    return std::hash<std::string_view>()(key);
}

// A power of two at least twice the number of entries (gaps included), so a probe ends soon
// at an empty slot.
std::size_t SlotsFor(std::size_t entries) {
    return std::bit_ceil(std::max<std::size_t>(2 * entries, 16));
}

} // namespace

SettingsTable SettingsTable::Parse(std::string_view text) {
    SettingsTable table;
    // One entry per line at most: sized once for the whole file.
    table.Reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    ForEachLine(text, [&](std::string_view keyText, std::string_view valueText) {
        auto key = Unescape(keyText);
        auto value = Unescape(valueText);
        if (key && value)
            table.Set(std::move(*key), std::move(*value));
    });
    return table;
}

std::string SettingsTable::Serialize() const {
    std::size_t size = kSectionHeader.size() + 1;
    for (const Entry& e : entries_) {
        if (e.live)
            size += e.key.size() + e.value.size() + 3 * (e.keyEscapes + e.valueEscapes) + 2;
    }
    // Made at its final size and filled in place: the store's every save writes it whole.
    std::string text(size, '\0');
    char* out = text.data();
    out = WriteEscaped(out, kSectionHeader, 0);
    *out++ = '\n';
    for (const Entry& e : entries_) {
        if (!e.live)
            continue;
        out = WriteEscaped(out, e.key, e.keyEscapes);
        *out++ = '=';
        out = WriteEscaped(out, e.value, e.valueEscapes);
        *out++ = '\n';
    }
    return text;
}

const std::string* SettingsTable::Find(std::string_view key) const {
    if (slots_.empty())
        return nullptr;
    const std::size_t slot = FindSlot(key, HashOf(key));
    return slots_[slot] == kEmpty ? nullptr : &entries_[slots_[slot] - 1].value;
}

void SettingsTable::Reserve(std::size_t count) {
    entries_.reserve(count);
    if (SlotsFor(count) > slots_.size())
        Reindex(SlotsFor(count));
}

void SettingsTable::Set(std::string key, std::string value) {
    const std::size_t hash = HashOf(key);
    const std::uint32_t valueEscapes = EscapeCount(value);
    if (!slots_.empty()) {
        if (const std::size_t slot = FindSlot(key, hash); slots_[slot] != kEmpty) {
            Entry& entry = entries_[slots_[slot] - 1];
            entry.value = std::move(value);
            entry.valueEscapes = valueEscapes;
            return;
        }
    }
    if (SlotsFor(entries_.size() + 1) > slots_.size())
        Reindex(SlotsFor(entries_.size() + 1));
    slots_[FindSlot(key, hash)] = entries_.size() + 1;
    const std::uint32_t keyEscapes = EscapeCount(key);
    entries_.push_back({std::move(key), std::move(value), hash, keyEscapes, valueEscapes, true});
    ++live_;
}

void SettingsTable::Erase(std::string_view key) {
    if (slots_.empty())
        return;
    const std::size_t slot = FindSlot(key, HashOf(key));
    if (slots_[slot] == kEmpty)
        return;
    // The slot keeps pointing at the gap, so the keys probed past it are still found.
    entries_[slots_[slot] - 1].live = false;
    --live_;
}

void SettingsTable::Compact() {
    if (live_ == entries_.size())
        return;
    std::erase_if(entries_, [](const Entry& e) { return !e.live; });
    Reindex(SlotsFor(entries_.size()));
}

// The slot of the live entry `key`, or the empty slot where it would go.
std::size_t SettingsTable::FindSlot(std::string_view key, std::size_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        if (slots_[slot] == kEmpty)
            return slot;
        const Entry& e = entries_[slots_[slot] - 1];
        if (e.live && e.hash == hash && e.key == key)
            return slot;
    }
}

// A new index of `count` slots over the live entries.
void SettingsTable::Reindex(std::size_t count) {
    slots_.assign(count, kEmpty);
    const std::size_t mask = count - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (!entries_[i].live)
            continue;
        std::size_t slot = entries_[i].hash & mask;
        while (slots_[slot] != kEmpty)
            slot = (slot + 1) & mask;
        slots_[slot] = i + 1;
    }
}

} // namespace postlark
