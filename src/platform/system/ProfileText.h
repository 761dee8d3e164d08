// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text of an initialization ("profile") file, held in memory: sections in brackets,
// "key=value" lines, single-byte text kept byte for byte, LF or CR LF line ends read, new
// lines written with CR LF. Section and key names compare without regard to ASCII case. A
// write changes only the line it concerns (a new entry goes after the last non-blank line of
// its section, a new section at the end); every other line, comments included, stays as it
// was. The file calls (ProfileString.h) read a file into one of these, and write it back.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace postlark::win {

class ProfileText {
public:
    explicit ProfileText(std::string_view text = {});

    // The value of `key` in the first section named `section`, with its surrounding blanks
    // and then one pair of matching quotes ('...' or "...") dropped; nullopt when the section
    // or the entry is missing.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;

    // The names of the sections, and of the entries of a section, in file order, trimmed.
    std::vector<std::string> SectionNames() const;
    std::vector<std::string> KeyNames(std::string_view section) const;

    // Whether a write of these can be read back: false for a null section, a section name
    // holding ']' or a line break, a key holding '=' or a line break or beginning with '['
    // or ';', a name with blanks around it, or a value holding a line break.
    static bool CanHold(const char* section, const char* key, const char* value);

    // Sets `key` of `section` to `value`, creating the section or the entry as needed. A null
    // `value` deletes the entry; a null `key` deletes the whole section. Returns false, and
    // changes nothing, when the text cannot hold them (CanHold).
    bool Write(const char* section, const char* key, const char* value);

    // The whole text, every line with its own line end.
    std::string Text() const;

private:
    struct Line {
        enum class Kind { Other, Section, Entry };
        std::string text; // without the line end
        std::string end;  // "\r\n", "\n", or "" for a last line without one
        Kind kind = Kind::Other;
        std::string name; // section or key name, trimmed
        std::string value;
    };
    struct SectionRange {
        std::size_t header, first, last; // header line, and its lines [first, last)
    };

    static void Classify(Line& line);
    static Line NewLine(std::string text);
    std::optional<SectionRange> FindSection(std::string_view name) const;
    std::optional<std::size_t> FindEntry(const SectionRange& range, std::string_view key) const;

    std::vector<Line> lines_;
};

} // namespace postlark::win
