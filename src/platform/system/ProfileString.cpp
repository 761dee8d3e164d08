// SPDX-License-Identifier: GPL-3.0-or-later
// Our own profile-file engine: no library keeps the Windows rules this program's backup files
// rely on (case-insensitive names, values cut at the caller's buffer, new entries at the end
// of their section, every other line of the file left exactly as it was).
#include "platform/system/ProfileString.h"

#include "platform/base/LastError.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

DWORD ErrorFromErrno(int error, bool writing) {
    switch (error) {
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    default:
        return writing ? ERROR_WRITE_FAULT : ERROR_READ_FAULT;
    }
}

// One line of the file: its text without the line end, and the line end itself ("\r\n",
// "\n", or "" for a last line without one).
struct Line {
    std::string text;
    std::string end;

    enum class Kind { Other, Section, Entry };
    Kind kind = Kind::Other;
    std::string name; // section or key name, trimmed
    std::string value;
};

void Classify(Line& line) {
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

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
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
        lines.push_back(std::move(line));
    }
    for (Line& line : lines)
        Classify(line);
    return lines;
}

// The lines of the first section with this name: [first, last) after its header, and the
// header's index; nullopt when there is no such section.
struct SectionRange {
    std::size_t header, first, last;
};

std::optional<SectionRange> FindSection(const std::vector<Line>& lines, std::string_view name) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Line::Kind::Section || !SameName(lines[i].name, name))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && lines[end].kind != Line::Kind::Section)
            ++end;
        return SectionRange{i, i + 1, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> FindEntry(const std::vector<Line>& lines, const SectionRange& range,
                                     std::string_view key) {
    for (std::size_t i = range.first; i < range.last; ++i) {
        if (lines[i].kind == Line::Kind::Entry && SameName(lines[i].name, key))
            return i;
    }
    return std::nullopt;
}

// Reads the whole file. A missing file gives nullopt with ERROR_FILE_NOT_FOUND; anything but
// a readable regular file gives nullopt with the reason.
std::optional<std::string> ReadFile(const char* path, DWORD& error) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = ErrorFromErrno(errno, false);
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        error = ERROR_ACCESS_DENIED;
        return std::nullopt;
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = ErrorFromErrno(errno, false);
            ::close(fd);
            return std::nullopt;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

// Places text in the caller's buffer, cut to size - 1, and returns the count placed.
DWORD Place(std::string_view text, char* buffer, DWORD size) {
    if (!buffer || size == 0)
        return 0;
    const std::size_t count = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

// Places a list of names, each ended by '\0', plus the final '\0'.
DWORD PlaceList(const std::vector<std::string_view>& names, char* buffer, DWORD size) {
    if (!buffer || size == 0)
        return 0;
    std::string list;
    for (const std::string_view name : names) {
        list += name;
        list += '\0';
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        return static_cast<DWORD>(list.empty() ? 0 : list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
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

// A name a line of the file can hold so that a read finds it again: lines are read with
// their names trimmed, so surrounding blanks would be lost and every later write of the name
// would add another line. A key must also not read as a section header or a comment.
bool NameFitsALine(std::string_view name, bool isKey) {
    if (name != Trim(name) || HasLineBreak(name))
        return false;
    if (!isKey)
        return name.find(']') == std::string_view::npos;
    return name.find('=') == std::string_view::npos &&
           (name.empty() || (name.front() != '[' && name.front() != ';'));
}

// Writes the text to a temporary file beside `path` and renames it over `path`; the file
// keeps `mode`. The caller checked that `path` is absent or a regular file.
bool ReplaceFile(const std::string& path, const std::string& text, mode_t mode) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = folder + (slash == std::string::npos ? "/." : ".") + name + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, true));
        return false;
    }
    const auto fail = [&](int error) {
        ::close(fd);
        ::unlink(temp.c_str());
        SetLastError(ErrorFromErrno(error, true));
        return false;
    };
    if (::fchmod(fd, mode) != 0)
        return fail(errno);
    std::string_view rest = text;
    while (!rest.empty()) {
        const ssize_t done = ::write(fd, rest.data(), rest.size());
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            return fail(errno);
        rest.remove_prefix(static_cast<std::size_t>(done));
    }
    if (::fsync(fd) != 0)
        return fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        SetLastError(ErrorFromErrno(error, true));
        return false;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        SetLastError(ErrorFromErrno(error, true));
        return false;
    }
    return true;
}

std::string Join(const std::vector<Line>& lines) {
    std::string text;
    for (const Line& line : lines) {
        text += line.text;
        text += line.end;
    }
    return text;
}

Line NewLine(std::string text) {
    Line line;
    line.text = std::move(text);
    line.end = std::string(kNewLine);
    return line;
}

} // namespace

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName) {
    std::string_view fallback = defaultValue ? defaultValue : "";
    while (!fallback.empty() && fallback.back() == ' ')
        fallback.remove_suffix(1);
    if (!fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return Place(fallback, buffer, size);
    }
    DWORD error = ERROR_SUCCESS;
    const std::optional<std::string> text = ReadFile(fileName, error);
    const std::vector<Line> lines = text ? SplitLines(*text) : std::vector<Line>();
    SetLastError(error);

    if (!section) {
        std::vector<std::string_view> names;
        for (const Line& line : lines) {
            if (line.kind == Line::Kind::Section)
                names.push_back(line.name);
        }
        return PlaceList(names, buffer, size);
    }
    const std::optional<SectionRange> range = FindSection(lines, section);
    if (!key) {
        std::vector<std::string_view> names;
        for (std::size_t i = range ? range->first : 0; range && i < range->last; ++i) {
            if (lines[i].kind == Line::Kind::Entry)
                names.push_back(lines[i].name);
        }
        return PlaceList(names, buffer, size);
    }
    const std::optional<std::size_t> entry = range ? FindEntry(lines, *range, key) : std::nullopt;
    if (!entry)
        return Place(fallback, buffer, size);
    return Place(Unquote(lines[*entry].value), buffer, size);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (!section || !fileName || !*fileName || !NameFitsALine(section, false) ||
        (key && !NameFitsALine(key, true)) || (value && HasLineBreak(value))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }

    // Write through a symbolic link to the file it names, so the link stays a link.
    std::string path = fileName;
    struct stat info {};
    bool exists = ::lstat(fileName, &info) == 0;
    if (exists && S_ISLNK(info.st_mode)) {
        char* real = ::realpath(fileName, nullptr);
        if (real) {
            path = real;
            std::free(real);
            exists = ::stat(path.c_str(), &info) == 0;
        } else {
            exists = false; // a dangling link: its target does not exist yet
            char target[PATH_MAX];
            const ssize_t length = ::readlink(fileName, target, sizeof target - 1);
            if (length > 0) {
                target[length] = '\0';
                const std::string link = fileName;
                const std::size_t slash = link.rfind('/');
                path = target[0] == '/' || slash == std::string::npos
                           ? std::string(target)
                           : link.substr(0, slash + 1) + target;
            }
        }
    } else if (!exists && errno != ENOENT) {
        SetLastError(ErrorFromErrno(errno, true));
        return FALSE_;
    }

    std::string before;
    if (exists) {
        DWORD error = ERROR_SUCCESS;
        std::optional<std::string> text = ReadFile(path.c_str(), error);
        if (!text) {
            SetLastError(error);
            return FALSE_;
        }
        before = std::move(*text);
    }

    std::vector<Line> lines = SplitLines(before);
    const std::optional<SectionRange> range = FindSection(lines, section);
    if (!range) {
        if (!key || !value) {
            SetLastError(ERROR_SUCCESS);
            return TRUE_; // nothing to delete
        }
        if (!lines.empty()) {
            if (lines.back().end.empty())
                lines.back().end = std::string(kNewLine);
            if (!Trim(lines.back().text).empty())
                lines.push_back(NewLine(""));
        }
        lines.push_back(NewLine("[" + std::string(section) + "]"));
        lines.push_back(NewLine(std::string(key) + "=" + value));
    } else if (!key) {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->header),
                    lines.begin() + static_cast<std::ptrdiff_t>(range->last));
    } else if (const auto entry = FindEntry(lines, *range, key)) {
        if (value) {
            Line& line = lines[*entry];
            line.text = line.name + "=" + value;
        } else {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*entry));
        }
    } else if (value) {
        // After the section's last non-blank line, so blank lines before the next section
        // keep separating it.
        std::size_t at = range->last;
        while (at > range->first && Trim(lines[at - 1].text).empty())
            --at;
        if (lines[at - 1].end.empty())
            lines[at - 1].end = std::string(kNewLine);
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                     NewLine(std::string(key) + "=" + value));
    }

    const std::string after = Join(lines);
    if (exists && after == before) {
        SetLastError(ERROR_SUCCESS);
        return TRUE_;
    }
    if (!ReplaceFile(path, after, exists ? (info.st_mode & 07777) : 0600))
        return FALSE_;
    SetLastError(ERROR_SUCCESS);
    return TRUE_;
}

std::optional<std::string> ReadWholeProfileString(const char* section, const std::string& key,
                                                  const std::string& fileName) {
    // The default is a line break, which no stored value can hold; the buffer grows until
    // the value fits.
    std::vector<char> buffer(256);
    for (;;) {
        const DWORD got =
            GetPrivateProfileStringA(section, key.c_str(), "\n", buffer.data(),
                                     static_cast<DWORD>(buffer.size()), fileName.c_str());
        if (got + 1 < buffer.size()) {
            std::string value(buffer.data(), got);
            if (value == "\n")
                return std::nullopt;
            return value;
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace postlark::win
