// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/ProfileText.h"

#include <algorithm>
#include <iterator>

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

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// A name a line can hold so that a read finds it again: lines are read with their names
// trimmed, so surrounding blanks would be lost and every later write of the name would add
// another line. A key must also not read as a section header or a comment.
bool NameFitsALine(std::string_view name, bool isKey) {
    if (name != Trim(name) || HasLineBreak(name))
        return false;
    if (!isKey)
        return name.find(']') == std::string_view::npos;
    return name.find('=') == std::string_view::npos &&
           (name.empty() || (name.front() != '[' && name.front() != ';'));
}

} // namespace

std::size_t ProfileText::NameHash::operator()(std::string_view name) const {
    std::size_t hash = 14695981039346656037ull; // FNV-1a over the lower-case name
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(Lower(c))) * 1099511628211ull;
    return hash;
}

bool ProfileText::NameEqual::operator()(std::string_view a, std::string_view b) const {
    return SameName(a, b);
}

ProfileText::ProfileText(std::string_view text) {
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        Line line;
        if (newline == std::string_view::npos) {
            line.text = std::string(text);
            text = {};
        } else {
            line.text = std::string(text.substr(0, newline));
            line.end = "\n";
            text.remove_prefix(newline + 1);
            if (!line.text.empty() && line.text.back() == '\r') {
                line.text.pop_back();
                line.end = "\r\n";
            }
        }
        Classify(line);
        lines_.push_back(std::move(line));
    }
}

void ProfileText::Classify(Line& line) {
    line.kind = Line::Kind::Other;
    const std::string_view text = Trim(line.text);
    if (text.empty() || text.front() == ';')
        return;
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        line.kind = Line::Kind::Section;
        line.name = Trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1));
        return;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        return;
    line.kind = Line::Kind::Entry;
    line.name = Trim(text.substr(0, equals));
    line.value = Trim(text.substr(equals + 1));
}

ProfileText::Line ProfileText::NewLine(std::string text) {
    Line line;
    line.text = std::move(text);
    line.end = std::string(kNewLine);
    Classify(line);
    return line;
}

std::optional<ProfileText::SectionRange> ProfileText::FindSection(std::string_view name) const {
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Line::Kind::Section || !SameName(lines_[i].name, name))
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
        if (lines_[i].kind == Line::Kind::Entry && SameName(lines_[i].name, key))
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
    return std::string(Unquote(lines_[*entry].value));
}

std::optional<std::string> ProfileText::SectionValues::Value(std::string_view key) const {
    const auto found = values_.find(key);
    if (found == values_.end())
        return std::nullopt;
    return found->second;
}

ProfileText::SectionValues ProfileText::Values(std::string_view section) const {
    SectionValues values;
    const std::optional<SectionRange> range = FindSection(section);
    for (std::size_t i = range ? range->first : 0; range && i < range->last; ++i) {
        const Line& line = lines_[i];
        if (line.kind == Line::Kind::Entry)
            values.values_.emplace(line.name, Unquote(line.value)); // the first one stays
    }
    return values;
}

std::vector<std::string> ProfileText::SectionNames() const {
    std::vector<std::string> names;
    for (const Line& line : lines_) {
        if (line.kind == Line::Kind::Section)
            names.push_back(line.name);
    }
    return names;
}

std::vector<std::string> ProfileText::KeyNames(std::string_view section) const {
    std::vector<std::string> names;
    const std::optional<SectionRange> range = FindSection(section);
    for (std::size_t i = range ? range->first : 0; range && i < range->last; ++i) {
        if (lines_[i].kind == Line::Kind::Entry)
            names.push_back(lines_[i].name);
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
            if (lines_.back().end.empty())
                lines_.back().end = std::string(kNewLine);
            if (!Trim(lines_.back().text).empty())
                lines_.push_back(NewLine(""));
        }
        lines_.push_back(NewLine("[" + std::string(section) + "]"));
        lines_.push_back(NewLine(std::string(key) + "=" + value));
    } else if (!key) {
        lines_.erase(at(range->header), at(range->last));
    } else if (const auto entry = FindEntry(*range, key)) {
        if (value)
            SetValue(lines_[*entry], value);
        else
            lines_.erase(at(*entry));
    } else if (value) {
        std::vector<Line> added;
        added.push_back(NewLine(std::string(key) + "=" + value));
        InsertInSection(*range, std::move(added));
    }
    return true;
}

bool ProfileText::Write(const char* section, std::span<const KeyValue> entries) {
    for (const auto& [key, value] : entries) {
        if (!key || !value || !CanHold(section, key, value))
            return false;
    }
    if (entries.empty())
        return true;
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
    // The names are viewed where they lie: lines_ is not changed before the end, and a
    // changed value leaves its line's name as it is.
    std::unordered_map<std::string_view, std::size_t, NameHash, NameEqual> where;
    where.reserve(range->last - range->first + entries.size() - next);
    for (std::size_t i = range->first; i < range->last; ++i) {
        if (lines_[i].kind == Line::Kind::Entry)
            where.emplace(lines_[i].name, i);
    }
    std::vector<Line> added;
    added.reserve(entries.size() - next);
    for (; next < entries.size(); ++next) {
        const auto& [key, value] = entries[next];
        const auto [found, isNew] = where.emplace(key, lines_.size() + added.size());
        if (isNew)
            added.push_back(NewLine(std::string(key) + "=" + value));
        else if (found->second < lines_.size())
            SetValue(lines_[found->second], value);
        else
            SetValue(added[found->second - lines_.size()], value);
    }
    if (!added.empty())
        InsertInSection(*range, std::move(added));
    return true;
}

std::size_t ProfileText::DeleteEntries(const char* section,
                                       const std::function<bool(std::string_view name)>& doomed) {
    const std::optional<SectionRange> range =
        CanHold(section, nullptr, nullptr) ? FindSection(section) : std::nullopt;
    if (!range)
        return 0;
    // A deletion of a name takes that name's first remaining entry, so the n deletions a name
    // receives (in any case) take its first n entries. A name is passed on as a C string,
    // and one that no write could name deletes nothing.
    std::unordered_map<std::string, std::size_t, NameHash, NameEqual> deletions;
    for (std::size_t i = range->first; i < range->last; ++i) {
        const Line& line = lines_[i];
        if (line.kind == Line::Kind::Entry && doomed(line.name) &&
            CanHold(section, line.name.c_str(), nullptr))
            ++deletions[line.name.c_str()];
    }
    if (deletions.empty())
        return 0;
    std::size_t kept = range->first;
    for (std::size_t i = range->first; i < range->last; ++i) {
        if (lines_[i].kind == Line::Kind::Entry) {
            const auto found = deletions.find(std::string_view(lines_[i].name));
            if (found != deletions.end() && found->second > 0) {
                --found->second;
                continue;
            }
        }
        if (kept != i)
            lines_[kept] = std::move(lines_[i]);
        ++kept;
    }
    const std::size_t deleted = range->last - kept;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(kept),
                 lines_.begin() + static_cast<std::ptrdiff_t>(range->last));
    return deleted;
}

// What Classify makes of the new text, short of parsing it again: the name stays as it is.
void ProfileText::SetValue(Line& line, const char* value) {
    line.text = line.name + "=" + value;
    line.value = Trim(value);
}

void ProfileText::InsertInSection(const SectionRange& range, std::vector<Line> added) {
    // After the section's last non-blank line, so blank lines before the next section keep
    // separating it.
    std::size_t last = range.last;
    while (last > range.first && Trim(lines_[last - 1].text).empty())
        --last;
    if (lines_[last - 1].end.empty())
        lines_[last - 1].end = std::string(kNewLine);
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last),
                  std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()));
}

std::string ProfileText::Text() const {
    std::string text;
    for (const Line& line : lines_) {
        text += line.text;
        text += line.end;
    }
    return text;
}

} // namespace postlark::win
