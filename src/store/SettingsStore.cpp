#include "store/SettingsStore.h"

#include "platform/RuntimeError.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace postlark {

namespace {

constexpr const char* kApplication = "Postlark";
constexpr std::string_view kSectionHeader = "[Settings]";

using Entries = std::vector<std::pair<std::string, std::string>>;

[[noreturn]] void Fail(const std::string& action, const std::string& path, int error) {
    const std::string reason = std::strerror(error);
    throw SettingsStoreError(
        "Path/File access error: cannot " + action + " " + path + " (" + reason + ")", reason);
}

// ---- File form -------------------------------------------------------------------------
//
// The file is "[Settings]" followed by one "key=value" line per entry, LF line ends. In keys
// and values the bytes 0x20-0x7E stand for themselves, except '\', '=', '[', ']', ';' and
// '#'; those, and every other byte (controls, CR, LF, DEL, 0x80-0xFF), are written as "\xHH"
// with two upper-case hex digits. So each entry is one line with exactly one raw '=', and no
// stored text can pass for a section header or a comment. Reading is lenient: raw bytes are
// taken as they stand; only a line without '=' or with a broken "\x" escape is skipped.

bool NeedsEscape(unsigned char c) {
    return c < 0x20 || c > 0x7E || c == '\\' || c == '=' || c == '[' || c == ']' || c == ';' ||
           c == '#';
}

void AppendEscaped(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c)) {
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 0x0F];
        } else {
            out += ch;
        }
    }
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

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 3 >= text.size() || text[i + 1] != 'x')
            return std::nullopt;
        const int high = HexDigit(text[i + 2]), low = HexDigit(text[i + 3]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 3;
    }
    return out;
}

bool IsSettingsHeader(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t'))
        line.remove_suffix(1);
    return line.size() == kSectionHeader.size() &&
           std::equal(line.begin(), line.end(), kSectionHeader.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

Entries::iterator Find(Entries& entries, std::string_view key) {
    return std::find_if(entries.begin(), entries.end(),
                        [&](const auto& entry) { return entry.first == key; });
}

void SetEntry(Entries& entries, std::string key, std::string value) {
    if (auto it = Find(entries, key); it != entries.end())
        it->second = std::move(value);
    else
        entries.emplace_back(std::move(key), std::move(value));
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

// Entries of the Settings section in file order; a later line for the same key wins.
Entries Parse(std::string_view text) {
    Entries entries;
    std::unordered_map<std::string, std::size_t> index; // key -> position in entries
    ForEachLine(text, [&](std::string_view keyText, std::string_view valueText) {
        auto key = Unescape(keyText);
        auto value = Unescape(valueText);
        if (!key || !value)
            return;
        const auto [it, added] = index.try_emplace(*key, entries.size());
        if (added)
            entries.emplace_back(std::move(*key), std::move(*value));
        else
            entries[it->second].second = std::move(*value);
    });
    return entries;
}

// The value of one key, without building the whole table: a read is one pass over the text.
std::optional<std::string> FindValue(std::string_view text, const std::string& key) {
    std::optional<std::string> found;
    ForEachLine(text, [&](std::string_view keyText, std::string_view valueText) {
        const bool same = keyText.find('\\') == std::string_view::npos
                              ? keyText == key
                              : Unescape(keyText) == std::optional<std::string>(key);
        if (!same)
            return;
        if (auto value = Unescape(valueText))
            found = std::move(value);
    });
    return found;
}

std::string Serialize(const Entries& entries) {
    std::string text(kSectionHeader);
    text += '\n';
    for (const auto& [key, value] : entries) {
        AppendEscaped(text, key);
        text += '=';
        AppendEscaped(text, value);
        text += '\n';
    }
    return text;
}

// ---- Files -----------------------------------------------------------------------------

std::string ConfigHome() {
    // Relative or empty XDG_CONFIG_HOME values are ignored, as the base-directory rules ask.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0')
        return std::string(home) + "/.config";
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return std::string(found->pw_dir) + "/.config";
    return ""; // no home at all: nothing to read, and saving is refused
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

    int get() const { return fd_; }
    int Close() {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

// Reads the whole store file. An absent file reads as empty; any other failure gives nullopt.
std::optional<std::string> ReadStoreFile(const std::string& path, int& error) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        error = errno;
        return error == ENOENT ? std::optional<std::string>("") : std::nullopt;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got == 0)
            return text;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = errno;
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

// Creates the missing folders down to the store's own, which is always left at mode 0700.
std::string EnsureFolder() {
    const std::string folder = SettingsStore::FolderPath();
    if (folder.empty())
        throw SettingsStoreError("Path/File access error: there is no home folder and "
                                 "XDG_CONFIG_HOME is not set, so settings have nowhere to be kept",
                                 "no home folder");
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            Fail("create the folder", part, errno);
        if (slash == std::string::npos)
            break;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        Fail("open the folder", folder, errno);
    if ((info.st_mode & 07777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
        Fail("protect the folder", folder, errno);
    return folder;
}

// Exclusive lock for one read-modify-write. A separate lock file, because the store file
// itself is replaced by every write. It is never removed, so all writers lock the same file.
FileDescriptor LockStore(const std::string& folder) {
    const std::string path = folder + "/settings.lock";
    FileDescriptor lock(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.get() < 0)
        Fail("open the lock file", path, errno);
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            Fail("lock", path, errno);
    }
    return lock;
}

void WriteAll(int fd, std::string_view text, const std::string& path) {
    while (!text.empty()) {
        const ssize_t done = ::write(fd, text.data(), text.size());
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0)
            Fail("write", path, errno);
        text.remove_prefix(static_cast<std::size_t>(done));
    }
}

// Replaces the store file: a temporary file in the same folder (mode 0600 from its creation),
// flushed to disk, renamed over the old file, then the folder entry flushed. A reader, or a
// crash at any point, sees either the complete old file or the complete new one. The caller
// holds the lock; a temporary file left by a killed writer is simply replaced.
void ReplaceFile(const std::string& folder, const std::string& path, std::string_view text) {
    const std::string temp = path + ".tmp";
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT)
        Fail("remove", temp, errno);
    FileDescriptor file(
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0)
        Fail("create", temp, errno);
    try {
        // The umask may have narrowed the mode; fix it before any byte is written.
        if (::fchmod(file.get(), 0600) != 0)
            Fail("protect", temp, errno);
        WriteAll(file.get(), text, temp);
        if (::fsync(file.get()) != 0)
            Fail("flush", temp, errno);
        if (file.Close() != 0)
            Fail("close", temp, errno);
        if (::rename(temp.c_str(), path.c_str()) != 0)
            Fail("replace", path, errno);
    } catch (...) {
        ::unlink(temp.c_str());
        throw;
    }
    // The rename has happened: the save has landed, readers see the new file. Failing to
    // flush the folder entry only weakens durability across a power cut, so it is reported
    // on standard error and the save counts as done (reporting it as failed would make a
    // caller save again, adding an account twice).
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0 || ::fsync(dir.get()) != 0)
        std::fprintf(stderr,
                     "Postlark: settings saved, but the folder %s could not be flushed: %s\n",
                     folder.c_str(), std::strerror(errno));
}

std::optional<std::string> ReadStored(const std::string& key) {
    int error = 0;
    const auto text = ReadStoreFile(SettingsStore::FilePath(), error);
    if (!text) // an unreadable store reads as empty: every reader gets its default
        return std::nullopt;
    return FindValue(*text, key);
}

} // namespace

std::string SettingsStore::FolderPath() {
    const std::string home = ConfigHome();
    return home.empty() ? std::string() : home + "/" + kApplication;
}

std::string SettingsStore::FilePath() {
    const std::string folder = FolderPath();
    return folder.empty() ? std::string() : folder + "/settings.ini";
}

std::string SettingsStore::ReadProblem() {
    const std::string path = FilePath();
    if (path.empty())
        return {};
    int error = 0;
    return ReadStoreFile(path, error) ? std::string() : std::strerror(error);
}

std::string SettingsStore::GetValue(const std::string& key, const std::string& defaultValue) {
    return ReadStored(key).value_or(defaultValue);
}

void SettingsStore::SaveValue(const std::string& key, const std::string& text) {
    Apply({Change::Set(key, text)});
}

void SettingsStore::DeleteValue(const std::string& key) {
    Apply({Change::Delete(key)});
}

void SettingsStore::Apply(const std::vector<Change>& changes) {
    Update([&](const Lookup&) { return changes; });
}

namespace {

// The stored entries and what they become after the computed changes; the store file must
// have been read (an unreadable store is never overwritten).
std::pair<Entries, Entries>
Compute(const std::string& path,
        const std::function<std::vector<SettingsStore::Change>(const SettingsStore::Lookup&)>&
            compute) {
    int error = 0;
    const auto text = ReadStoreFile(path, error);
    if (!text)
        Fail("read", path, error);
    Entries before = Parse(*text);
    Entries after = before;
    const SettingsStore::Lookup lookup =
        [&before](const std::string& key) -> std::optional<std::string> {
        const auto it = std::find_if(before.begin(), before.end(),
                                     [&](const auto& entry) { return entry.first == key; });
        return it == before.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    for (const SettingsStore::Change& change : compute(lookup)) {
        if (change.Value)
            SetEntry(after, change.Key, *change.Value);
        else if (auto it = Find(after, change.Key); it != after.end())
            after.erase(it);
    }
    return {std::move(before), std::move(after)};
}

} // namespace

void SettingsStore::Update(
    const std::function<std::vector<Change>(const Lookup& stored)>& compute) {
    // A change that leaves the store as it is needs no write access at all: checked first,
    // without creating the folder or taking the lock, so storing the value already stored
    // works in a store the user can read but not write.
    if (const std::string path = FilePath(); !path.empty()) {
        const auto [before, after] = Compute(path, compute);
        if (after == before)
            return;
    }
    const std::string folder = EnsureFolder();
    const FileDescriptor lock = LockStore(folder);
    const std::string path = FilePath();
    const auto [before, after] = Compute(path, compute);
    if (after != before)
        ReplaceFile(folder, path, Serialize(after));
}

std::optional<double> SettingsStore::ParseNumber(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string SettingsStore::IntegerText(long number) {
    return std::to_string(number);
}

double SettingsStore::GetNumber(const std::string& key, double defaultValue) {
    const auto stored = ReadStored(key);
    const auto number = stored ? ParseNumber(*stored) : std::nullopt;
    return number.value_or(defaultValue);
}

long SettingsStore::GetInteger(const std::string& key, long defaultValue) {
    const double number = GetNumber(key, static_cast<double>(defaultValue));
    // Fractions round to the nearest integer (halves to even); out-of-range values are unusable.
    const double rounded = std::nearbyint(number);
    if (!(rounded >= static_cast<double>(LONG_MIN) && rounded < -static_cast<double>(LONG_MIN)))
        return defaultValue;
    return static_cast<long>(rounded);
}

bool SettingsStore::IsFlagOn(const std::string& key, bool defaultOn) {
    return GetNumber(key, defaultOn ? 1.0 : 0.0) == 1.0;
}

void SettingsStore::SaveInteger(const std::string& key, long number) {
    SaveValue(key, IntegerText(number));
}

} // namespace postlark
