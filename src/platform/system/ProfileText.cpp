// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/ProfileText.h"

#include "platform/base/AsciiCase.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace postlark::win {

namespace {

constexpr std::string_view kNewLine = "\r\n";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool HasLineBreak(std::string_view text) {
    return !text.empty() && (std::memchr(text.data(), '\n', text.size()) ||
                             std::memchr(text.data(), '\r', text.size()));
}

// A name a line can hold so that a read finds it again: lines are read with their names
// trimmed, so surrounding blanks would be lost and every later write of the name would add
// another line. A key must also not read as a section header or a comment.
bool NameFitsALine(std::string_view name, bool isKey) {
    if (!name.empty() && (IsBlank(name.front()) || IsBlank(name.back())))
        return false;
    if (isKey && !name.empty() && (name.front() == '[' || name.front() == ';'))
        return false;
    // One look at each character: a back-up checks the name of every entry it writes.
    const char closing = isKey ? '=' : ']';
    return std::none_of(name.begin(), name.end(),
                        [closing](char c) { return c == '\n' || c == '\r' || c == closing; });
}

// The number of slots of an open-addressing index for up to `count` names: a power of two
// at least half as much again, so a probe soon meets an empty slot.
std::size_t IndexSize(std::size_t count) {
    return std::bit_ceil(std::max<std::size_t>(count + count / 2 + 1, 16));
}

// Names viewed where they lie, each with a number, found without regard to ASCII case: one
// array sized once for at most `count` names instead of a node per name.
class NameIndex {
public:
    explicit NameIndex(std::size_t count) : slots_(IndexSize(count)) {}

    // The number kept for `name`, and whether it was added now, with `number`.
    std::pair<std::size_t*, bool> Emplace(std::string_view name, std::size_t number) {
        Slot& slot = SlotOf(name);
        const bool added = !slot.Used();
        if (added)
            slot = {name, number};
        return {&slot.number, added};
    }

    std::size_t* Find(std::string_view name) {
        Slot& slot = SlotOf(name);
        return slot.Used() ? &slot.number : nullptr;
    }

private:
    // A name is never null, even an empty one: it lies in a line or a caller's string.
    struct Slot {
        std::string_view name;
        std::size_t number = 0;
        bool Used() const { return name.data() != nullptr; }
    };

    Slot& SlotOf(std::string_view name) {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = ProfileText::NameHash()(name) & mask;; i = (i + 1) & mask) {
            if (!slots_[i].Used() || SameAsciiLetters(slots_[i].name, name))
                return slots_[i];
        }
    }

    std::vector<Slot> slots_;
};

// What a line of a profile file is: a section header with its name, an entry with its name
// and value (each without surrounding blanks), or anything else (blank, comment, no '=').
struct LineParts {
    enum class Kind { Other, Section, Entry } kind = Kind::Other;
    std::string_view name, value;
};

LineParts PartsOf(std::string_view line) {
    const std::string_view text = Trim(line);
    if (text.empty() || text.front() == ';')
        return {};
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        return {LineParts::Kind::Section,
                Trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1)),
                {}};
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return {};
    return {LineParts::Kind::Entry, Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))};
}

// Calls visit(line text) for each line: split at LF, a CR before the LF dropped. Returns
// early when visit returns false.
template <typename Visit> void ForEachLine(std::string_view text, Visit&& visit) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t newline = text.find('\n', at);
        std::string_view line = text.substr(
            at, newline == std::string_view::npos ? std::string_view::npos : newline - at);
        at = newline == std::string_view::npos ? text.size() : newline + 1;
        if (newline != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!visit(line))
            return;
    }
}

} // namespace

std::size_t ProfileText::NameHash::operator()(std::string_view name) const {
    // Eight bytes at a time, each with its 0x20 bit set: the same for both cases of a letter
    // (other bytes that then coincide only cost a comparison). Multiply-rotate
    // mixing, and a final avalanche so the low bits that pick a slot depend on every byte.
    constexpr std::uint64_t kCase = 0x2020202020202020ull, kMul = 0x9E3779B97F4A7C15ull;
    std::uint64_t hash = name.size() * kMul;
    const auto mix = [&](std::uint64_t word) {
        hash = std::rotl((hash ^ (word | kCase)) * kMul, 29);
    };
    std::size_t at = 0;
    for (; at + 8 <= name.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, name.data() + at, 8);
        mix(word);
    }
    if (at < name.size()) {
        std::uint64_t word = 0;
        std::memcpy(&word, name.data() + at, name.size() - at);
        mix(word);
    }
    hash ^= hash >> 33;
    hash *= 0xFF51AFD7ED558CCDull;
    return static_cast<std::size_t>(hash ^ (hash >> 33));
}

bool ProfileText::NameEqual::operator()(std::string_view a, std::string_view b) const {
    return SameAsciiLetters(a, b);
}

ProfileText::ProfileText(std::string_view text) : text_(text) {
    ReadLines();
}

ProfileText::ProfileText(std::string&& text) : text_(std::move(text)) {
    ReadLines();
}

void ProfileText::ReadLines() {
    const std::string_view text = text_;
    // Lines counted with find (memchr), not byte by byte: a large file is read in the time
    // of one pass.
    std::size_t lines = 1;
    for (std::size_t at = text.find('\n'); at != std::string_view::npos;
         at = text.find('\n', at + 1))
        ++lines;
    lines_.reserve(lines);
    for (std::size_t at = 0; at < text_.size();) {
        Line line;
        line.at = at;
        const std::size_t newline = text_.find('\n', at);
        if (newline == std::string::npos) {
            line.size = text_.size() - at;
            at = text_.size();
        } else {
            line.size = newline - at;
            line.end = Line::End::Lf;
            at = newline + 1;
            if (line.size > 0 && text_[line.at + line.size - 1] == '\r') {
                --line.size;
                line.end = Line::End::CrLf;
            }
        }
        Classify(line);
        lines_.push_back(line);
    }
}

void ProfileText::Classify(Line& line) const {
    const auto offset = [&](std::string_view part) {
        return static_cast<std::size_t>(part.data() - text_.data());
    };
    const LineParts parts = PartsOf(TextOf(line));
    line.kind = parts.kind == LineParts::Kind::Section ? Line::Kind::Section
                : parts.kind == LineParts::Kind::Entry ? Line::Kind::Entry
                                                       : Line::Kind::Other;
    if (line.kind == Line::Kind::Other)
        return;
    line.nameAt = offset(parts.name);
    line.nameSize = parts.name.size();
    if (line.kind == Line::Kind::Entry) {
        line.valueAt = offset(parts.value);
        line.valueSize = parts.value.size();
    }
}

ProfileText::Line ProfileText::NewLine(std::initializer_list<std::string_view> parts) {
    // Reserved first, so a part that is a piece of text_ itself stays where it is (a caller
    // that passes one has reserved room already).
    std::size_t size = 0;
    for (const std::string_view part : parts)
        size += part.size();
    text_.reserve(text_.size() + size);
    Line line;
    line.at = text_.size();
    for (const std::string_view part : parts)
        text_.append(part);
    line.size = size;
    line.end = Line::End::CrLf;
    Classify(line);
    return line;
}

std::optional<ProfileText::SectionRange> ProfileText::FindSection(std::string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Line::Kind::Section || !SameAsciiLetters(NameOf(lines_[i]), name))
            continue;
        std::size_t end = i + 1;
        while (end < lines_.size() && lines_[end].kind != Line::Kind::Section)
            ++end;
        return SectionRange{i, i + 1, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> ProfileText::FindEntry(const SectionRange& range,
                                                  std::string_view key) const {
    for (std::size_t i = range.first; i < range.last; ++i) {
        if (lines_[i].kind == Line::Kind::Entry && SameAsciiLetters(NameOf(lines_[i]), key))
            return i;
    }
    return std::nullopt;
}

std::optional<std::string> ProfileText::Value(std::string_view section,
                                              std::string_view key) const {
    const std::optional<SectionRange> range = FindSection(section);
    const std::optional<std::size_t> entry = range ? FindEntry(*range, key) : std::nullopt;
    if (!entry)
        return std::nullopt;
    return std::string(Unquote(ValueOf(lines_[*entry])));
}

std::vector<ProfileText::NamedValue> ProfileText::Entries(std::string_view section) const {
    std::vector<NamedValue> entries;
    const std::optional<SectionRange> range = FindSection(section);
    if (!range)
        return entries;
    entries.reserve(range->last - range->first);
    for (std::size_t i = range->first; i < range->last; ++i) {
        if (lines_[i].kind == Line::Kind::Entry)
            entries.emplace_back(NameOf(lines_[i]), Unquote(ValueOf(lines_[i])));
    }
    return entries;
}

std::vector<ProfileText::NamedValue> ProfileText::EntriesOf(std::string_view text,
                                                            std::string_view section) {
    // The lines are looked at once, where they lie, and none is kept: reading one section
    // of a large file needs no table of its lines.
    std::vector<NamedValue> entries;
    bool inSection = false;
    ForEachLine(text, [&](std::string_view line) {
        const LineParts parts = PartsOf(line);
        if (parts.kind == LineParts::Kind::Section) {
            if (inSection)
                return false; // the first section of the name ends here
            inSection = SameAsciiLetters(parts.name, section);
        } else if (inSection && parts.kind == LineParts::Kind::Entry) {
            entries.emplace_back(parts.name, Unquote(parts.value));
        }
        return true;
    });
    return entries;
}

std::vector<std::string> ProfileText::SectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (line.kind == Line::Kind::Section)
            names.emplace_back(NameOf(line));
    }
    return names;
}

std::vector<std::string> ProfileText::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    const std::optional<SectionRange> range = FindSection(section);
    for (std::size_t i = range ? range->first : 0; range && i < range->last; ++i) {
        if (lines_[i].kind == Line::Kind::Entry)
            names.emplace_back(NameOf(lines_[i]));
    }
    return names;
}

bool ProfileText::CanHold(const char* section, const char* key, const char* value) {
    return section && NameFitsALine(section, false) && (!key || NameFitsALine(key, true)) &&
           (!value || !HasLineBreak(value));
}

bool ProfileText::Write(const char* section, const char* key, const char* value) {
    if (!CanHold(section, key, value))
        return false;
    const auto at = [&](std::size_t i) { return lines_.begin() + static_cast<std::ptrdiff_t>(i); };
    const std::optional<SectionRange> range = FindSection(section);
    if (!range) {
        if (!key || !value)
            return true; // nothing to delete
        if (!lines_.empty()) {
            if (lines_.back().end == Line::End::None)
                lines_.back().end = Line::End::CrLf;
            if (!Trim(TextOf(lines_.back())).empty())
                lines_.push_back(NewLine({}));
        }
        lines_.push_back(NewLine({"[", section, "]"}));
        lines_.push_back(NewLine({key, "=", value}));
    } else if (!key) {
        lines_.erase(at(range->header), at(range->last));
    } else if (const auto entry = FindEntry(*range, key)) {
        if (value)
            SetValue(lines_[*entry], value);
        else
            lines_.erase(at(*entry));
    } else if (value) {
        InsertInSection(*range, {NewLine({key, "=", value})});
    }
    return true;
}

bool ProfileText::Write(const char* section, std::span<const KeyValue> entries) {
    // The room the new and changed lines take in text_: a changed line is its name, which is
    // as long as the key that found it, '=' and the value.
    std::size_t adding = 0;
    for (const auto& [key, value] : entries) {
        if (!key || !value)
            return false;
        const std::string_view keyText = key, valueText = value;
        if (!NameFitsALine(keyText, true) || HasLineBreak(valueText))
            return false;
        adding += keyText.size() + 1 + valueText.size();
    }
    if (entries.empty())
        return true;
    if (!CanHold(section, nullptr, nullptr))
        return false;
    std::optional<SectionRange> range = FindSection(section);
    std::size_t next = 0;
    if (!range) {
        // The first entry adds the section at the end, as its own write would.
        Write(section, entries[0].first, entries[0].second);
        range = FindSection(section);
        next = 1;
    }
    // Where each name's first entry is: an index into lines_, or lines_.size() plus an index
    // into the lines still to be added at the end of the section.
    // The names are viewed where they lie: lines_ is not changed before the end, a changed
    // value leaves its line's name as it is, and text_ has room for everything added, so it
    // does not move.
    text_.reserve(text_.size() + adding);
    NameIndex where(range->last - range->first + entries.size() - next);
    for (std::size_t i = range->first; i < range->last; ++i) {
        if (lines_[i].kind == Line::Kind::Entry)
            where.Emplace(NameOf(lines_[i]), i);
    }
    std::vector<Line> added;
    added.reserve(entries.size() - next);
    for (; next < entries.size(); ++next) {
        const auto& [key, value] = entries[next];
        const auto [found, isNew] = where.Emplace(key, lines_.size() + added.size());
        if (isNew)
            added.push_back(NewLine({key, "=", value}));
        else if (*found < lines_.size())
            SetValue(lines_[*found], value);
        else
            SetValue(added[*found - lines_.size()], value);
    }
    if (!added.empty())
        InsertInSection(*range, added);
    return true;
}

std::optional<std::string> ProfileText::NewSectionText(const char* section,
                                                       std::span<const KeyValue> entries) {
    NewSection text(section, entries.size() * 48);
    for (const auto& [key, value] : entries) {
        if (!key || !value || !text.Add(key, value))
            return std::nullopt;
    }
    return std::move(text).Text();
}

ProfileText::NewSection::NewSection(const char* section, std::size_t sizeHint)
    : held_(CanHold(section, nullptr, nullptr)) {
    if (!held_)
        return;
    const std::string_view name = section;
    text_.reserve(name.size() + 2 + kNewLine.size() + sizeHint);
    text_ += '[';
    text_ += name;
    text_ += ']';
    text_ += kNewLine;
}

bool ProfileText::NewSection::Add(std::string_view key, std::string_view value) {
    // Each entry is checked as it is written (a rejected one ends the text); every entry line
    // holds '=', so none is blank: each goes after the one before it.
    key = key.substr(0, key.find('\0'));
    value = value.substr(0, value.find('\0'));
    held_ = held_ && NameFitsALine(key, true) && !HasLineBreak(value);
    if (!held_)
        return false;
    text_ += key;
    text_ += '=';
    text_ += value;
    text_ += kNewLine;
    empty_ = false;
    return true;
}

std::optional<std::string> ProfileText::NewSection::Text() && {
    if (!held_)
        return std::nullopt;
    if (empty_)
        return std::string(); // no entries: no section either
    return std::move(text_);
}

std::size_t ProfileText::DeleteEntries(const char* section,
                                       const std::function<bool(std::string_view name)>& doomed) {
    const std::optional<SectionRange> range =
        CanHold(section, nullptr, nullptr) ? FindSection(section) : std::nullopt;
    if (!range)
        return 0;
    // A deletion of a name takes that name's first remaining entry, so the n deletions a name
    // receives (in any case) take its first n entries. A name is passed on as a C string
    // (up to its first NUL), and one that no write could name deletes nothing. The names are
    // viewed where they lie: text_ does not change here.
    NameIndex deletions(range->last - range->first);
    bool any = false;
    for (std::size_t i = range->first; i < range->last; ++i) {
        const Line& line = lines_[i];
        if (line.kind != Line::Kind::Entry || !doomed(NameOf(line)))
            continue;
        const std::string_view name = NameOf(line);
        const std::string_view passed = name.substr(0, name.find('\0'));
        if (NameFitsALine(passed, true)) {
            ++*deletions.Emplace(passed, 0).first;
            any = true;
        }
    }
    if (!any)
        return 0;
    std::size_t kept = range->first;
    for (std::size_t i = range->first; i < range->last; ++i) {
        if (lines_[i].kind == Line::Kind::Entry) {
            std::size_t* const left = deletions.Find(NameOf(lines_[i]));
            if (left && *left > 0) {
                --*left;
                continue;
            }
        }
        lines_[kept++] = lines_[i];
    }
    const std::size_t deleted = range->last - kept;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(kept),
                 lines_.begin() + static_cast<std::ptrdiff_t>(range->last));
    return deleted;
}

// What Classify makes of the new text, short of parsing it again: the name stays as it is,
// and so does the line end.
void ProfileText::SetValue(Line& line, std::string_view value) {
    // Room first, so the name copied from text_ stays where it is.
    text_.reserve(text_.size() + line.nameSize + 1 + value.size());
    const std::size_t at = text_.size();
    text_.append(NameOf(line));
    text_ += '=';
    text_.append(value);
    const std::string_view trimmed = Trim(std::string_view(text_).substr(at + line.nameSize + 1));
    line.at = at;
    line.size = text_.size() - at;
    line.nameAt = at;
    line.valueAt = static_cast<std::size_t>(trimmed.data() - text_.data());
    line.valueSize = trimmed.size();
}

void ProfileText::InsertInSection(const SectionRange& range, const std::vector<Line>& added) {
    // After the section's last non-blank line, so blank lines before the next section keep
    // separating it.
    std::size_t last = range.last;
    while (last > range.first && Trim(TextOf(lines_[last - 1])).empty())
        --last;
    if (lines_[last - 1].end == Line::End::None)
        lines_[last - 1].end = Line::End::CrLf;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last), added.begin(), added.end());
}

std::string ProfileText::Text() const {
    const auto endOf = [](Line::End end) -> std::string_view {
        return end == Line::End::CrLf ? kNewLine : end == Line::End::Lf ? "\n" : "";
    };
    std::size_t size = 0;
    for (const Line& line : lines_)
        size += line.size + endOf(line.end).size();
    std::string text;
    text.reserve(size);
    for (const Line& line : lines_) {
        text += TextOf(line);
        text += endOf(line.end);
    }
    return text;
}

} // namespace postlark::win
