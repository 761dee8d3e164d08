// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text of an initialization ("profile") file, held in memory: sections in brackets,
// "key=value" lines, single-byte text kept byte for byte, LF or CR LF line ends read, new
// lines written with CR LF. Section and key names compare without regard to ASCII case. A
// write changes only the line it concerns (a new entry goes after the last non-blank line of
// its section, a new section at the end); every other line, comments included, stays as it
// was. The file calls (ProfileString.h) read a file into one of these, and write it back.
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace postlark::win {

class ProfileText {
public:
    explicit ProfileText(std::string_view text = {});
    // Takes the text over instead of copying it (a file just read).
    explicit ProfileText(std::string&& text);
    explicit ProfileText(const char* text) : ProfileText(std::string_view(text)) {}

    // Hashing and comparison of names without regard to ASCII case.
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const;
    };
    struct NameEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };

    // The value of `key` in the first section named `section`, with its surrounding blanks
    // and then one pair of matching quotes ('...' or "...") dropped; nullopt when the section
    // or the entry is missing.
    std::optional<std::string> Value(std::string_view section, std::string_view key) const;
    // Every entry of the first section named `section` (none when it is missing), in file
    // order: its name and its value as Value gives it, both views into this text. The first
    // entry of a name (in any case) is the one Value reads.
    using NamedValue = std::pair<std::string_view, std::string_view>;
    std::vector<NamedValue> Entries(std::string_view section) const;
    // What ProfileText(text).Entries(section) gives, read straight from the text.
    static std::vector<NamedValue> EntriesOf(std::string_view text, std::string_view section);

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

    // Sets many entries of `section` (key, value; neither null), giving the same text as one
    // Write per entry in their order but finding the section and its keys once. Returns false,
    // and changes nothing, when the text cannot hold one of them (CanHold).
    using KeyValue = std::pair<const char*, const char*>;
    bool Write(const char* section, std::span<const KeyValue> entries);

    // The text Write(section, entries) gives an empty ProfileText, made without one: the
    // section header, then one line per entry in their order, each line ended with CR LF (no
    // text when `entries` is empty). The names must differ from each other without regard to
    // ASCII case; a repeated name would change its first line there instead. nullopt when a
    // write could not hold one of them (CanHold).
    static std::optional<std::string> NewSectionText(const char* section,
                                                     std::span<const KeyValue> entries);

    // NewSectionText made one entry at a time, for a writer that has no list of its entries.
    // Names and values are taken as C strings would be: up to a first NUL.
    class NewSection {
    public:
        // `sizeHint`: the expected size of the whole text, reserved at once.
        NewSection(const char* section, std::size_t sizeHint);
        // False when a write could not hold the entry; the text is then no longer made.
        bool Add(std::string_view key, std::string_view value);
        // The text, or nullopt when the section or an entry could not be held.
        std::optional<std::string> Text() &&;

    private:
        std::string text_;
        bool held_;
        bool empty_ = true;
    };

    // Deletes the entries of the first section named `section` whose names `doomed` accepts,
    // giving the same text as one Write(section, name, nullptr) for each name that KeyNames
    // lists and `doomed` accepts (each such write deletes the first entry of that name).
    // Returns the number of entries deleted.
    std::size_t DeleteEntries(const char* section,
                              const std::function<bool(std::string_view name)>& doomed);

    // The whole text, every line with its own line end.
    std::string Text() const;

private:
    // A line is a piece of text_ (without its line end); its name and value, if it has them,
    // are pieces of that. Lines are ordered by lines_, not by where their text lies: a changed
    // or new line's text is added at the end of text_, so reading a file copies its text once
    // and a line costs no allocation of its own.
    struct Line {
        enum class Kind : unsigned char { Other, Section, Entry };
        enum class End : unsigned char { None, Lf, CrLf };
        std::size_t at = 0, size = 0;
        std::size_t nameAt = 0, nameSize = 0; // section or key name, trimmed
        std::size_t valueAt = 0, valueSize = 0;
        Kind kind = Kind::Other;
        End end = End::None;
    };
    struct SectionRange {
        std::size_t header, first, last; // header line, and its lines [first, last)
    };

    std::string_view TextOf(const Line& line) const { return {text_.data() + line.at, line.size}; }
    std::string_view NameOf(const Line& line) const {
        return {text_.data() + line.nameAt, line.nameSize};
    }
    std::string_view ValueOf(const Line& line) const {
        return {text_.data() + line.valueAt, line.valueSize};
    }
    void Classify(Line& line) const;
    // The lines of text_, read once on construction.
    void ReadLines();
    // A line of the given text parts, joined, ended with CR LF.
    Line NewLine(std::initializer_list<std::string_view> parts);
    std::optional<SectionRange> FindSection(std::string_view name) const;
    std::optional<std::size_t> FindEntry(const SectionRange& range, std::string_view key) const;
    void SetValue(Line& line, std::string_view value);
    // Adds the lines after the section's last non-blank line.
    void InsertInSection(const SectionRange& range, const std::vector<Line>& added);

    std::string text_;
    std::vector<Line> lines_;
};

} // namespace postlark::win
