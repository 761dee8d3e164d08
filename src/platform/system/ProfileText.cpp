// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/ProfileText.h"

#include <algorithm>

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

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
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
        if (value) {
            Line& line = lines_[*entry];
            line.text = line.name + "=" + value;
            Classify(line);
        } else {
            lines_.erase(at(*entry));
        }
    } else if (value) {
        // After the section's last non-blank line, so blank lines before the next section
        // keep separating it.
        std::size_t last = range->last;
        while (last > range->first && Trim(lines_[last - 1].text).empty())
            --last;
        if (lines_[last - 1].end.empty())
            lines_[last - 1].end = std::string(kNewLine);
        lines_.insert(at(last), NewLine(std::string(key) + "=" + value));
    }
    return true;
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
