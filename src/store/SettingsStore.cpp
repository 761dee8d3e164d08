// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/SettingsStore.h"

#include "platform/base/RuntimeError.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
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

constexpr bool EscapedByte(unsigned char c) {
    return c < 0x20 || c > 0x7E || c == '\\' || c == '=' || c == '[' || c == ']' || c == ';' ||
           c == '#';
}

// EscapedByte for every byte, looked up: a save checks every byte of the store twice.
constexpr auto kEscaped = [] {
    std::array<bool, 256> escaped{};
    for (int c = 0; c < 256; ++c)
        escaped[std::size_t(c)] = EscapedByte(static_cast<unsigned char>(c));
    return escaped;
}();

bool NeedsEscape(unsigned char c) {
    return kEscaped[c];
}

void AppendEscaped(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    // Runs of bytes that stand for themselves are copied whole.
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!NeedsEscape(c))
            continue;
        out.append(text.data() + plain, i - plain);
        const char escape[] = {'\\', 'x', hex[c >> 4], hex[c & 0x0F]};
        out.append(escape, sizeof escape);
        plain = i + 1;
    }
    out.append(text.data() + plain, text.size() - plain);
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

// The entries of the Settings section in file order, with each key found in constant time.
// A removed entry stays in place as a gap until the table is written, so removing many keys
// (renumbering accounts) costs no more than one pass.
// The index is open addressing over one array of entry positions, so copying a table (every
// save works on a copy) copies that array whole instead of allocating a node per key.
class Table {
public:
    const std::string* Find(std::string_view key) const {
        if (slots_.empty())
            return nullptr;
        const std::size_t slot = FindSlot(key, std::hash<std::string_view>()(key));
        return slots_[slot] == kEmpty ? nullptr : &entries_[slots_[slot] - 1].value;
    }

    void Reserve(std::size_t count) {
        entries_.reserve(count);
        if (SlotsFor(count) > slots_.size())
            Reindex(SlotsFor(count));
    }

    // Replaces the value in place, or appends the key at the end.
    void Set(std::string key, std::string value) {
        const std::size_t hash = std::hash<std::string_view>()(key);
        if (!slots_.empty()) {
            if (const std::size_t slot = FindSlot(key, hash); slots_[slot] != kEmpty) {
                entries_[slots_[slot] - 1].value = std::move(value);
                return;
            }
        }
        if (SlotsFor(entries_.size() + 1) > slots_.size())
            Reindex(SlotsFor(entries_.size() + 1));
        slots_[FindSlot(key, hash)] = entries_.size() + 1;
        entries_.push_back({std::move(key), std::move(value), hash, true});
        ++live_;
    }

    void Erase(std::string_view key) {
        if (slots_.empty())
            return;
        const std::size_t slot = FindSlot(key, std::hash<std::string_view>()(key));
        if (slots_[slot] == kEmpty)
            return;
        // The slot keeps pointing at the gap, so the keys probed past it are still found.
        entries_[slots_[slot] - 1].live = false;
        --live_;
    }

    // Drops the gaps left by removed entries.
    void Compact() {
        if (live_ == entries_.size())
            return;
        std::erase_if(entries_, [](const Entry& e) { return !e.live; });
        Reindex(SlotsFor(entries_.size()));
    }

    // The same keys with the same values in the same order.
    bool operator==(const Table& other) const {
        if (live_ != other.live_)
            return false;
        auto a = entries_.begin(), b = other.entries_.begin();
        for (;; ++a, ++b) {
            a = std::find_if(a, entries_.end(), [](const Entry& e) { return e.live; });
            b = std::find_if(b, other.entries_.end(), [](const Entry& e) { return e.live; });
            if (a == entries_.end() || b == other.entries_.end())
                return a == entries_.end() && b == other.entries_.end();
            if (a->key != b->key || a->value != b->value)
                return false;
        }
    }

    std::string Serialize() const {
        std::size_t size = kSectionHeader.size() + 1;
        for (const Entry& e : entries_)
            size += e.live ? EscapedSize(e.key) + EscapedSize(e.value) + 2 : 0;
        std::string text;
        text.reserve(size);
        text += kSectionHeader;
        text += '\n';
        for (const Entry& e : entries_) {
            if (!e.live)
                continue;
            AppendEscaped(text, e.key);
            text += '=';
            AppendEscaped(text, e.value);
            text += '\n';
        }
        return text;
    }

private:
    static constexpr std::size_t kEmpty = 0; // a slot holds an entry's position + 1

    static std::size_t EscapedSize(std::string_view text) {
        std::size_t size = text.size();
        for (const char c : text)
            size += NeedsEscape(static_cast<unsigned char>(c)) ? 3 : 0;
        return size;
    }

    // A power of two at least twice the number of entries (gaps included), so a probe ends
    // soon at an empty slot.
    static std::size_t SlotsFor(std::size_t entries) {
        return std::bit_ceil(std::max<std::size_t>(2 * entries, 16));
    }

    // The slot of the live entry `key`, or the empty slot where it would go.
    std::size_t FindSlot(std::string_view key, std::size_t hash) const {
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
    void Reindex(std::size_t count) {
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

    struct Entry {
        std::string key;
        std::string value;
        std::size_t hash; // of the key
        bool live;
    };
    std::vector<Entry> entries_;
    std::vector<std::size_t> slots_;
    std::size_t live_ = 0; // entries that are no gap
};

// The Settings section of a file's text; a later line for the same key wins.
Table Parse(std::string_view text) {
    Table table;
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

// What tells one version of the store file from another. Every save replaces the file by a
// rename, so a new version is a new inode; size and modification time guard against a file
// edited in place.
struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedNs = 0;

    static Identity Of(const struct stat& info) {
        return {info.st_dev, info.st_ino, info.st_size,
                std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec};
    }
    bool operator==(const Identity&) const = default;
};

// Reads the whole store file into a buffer sized once from the file's size. An absent file
// reads as empty (identity all zero); any other failure gives nullopt and the error.
std::optional<std::string> ReadStoreFile(const std::string& path, int& error,
                                         Identity* identity = nullptr) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        error = errno;
        if (identity)
            *identity = Identity();
        return error == ENOENT ? std::optional<std::string>("") : std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        error = errno;
        return std::nullopt;
    }
    if (identity)
        *identity = Identity::Of(info);
    // One byte more than the size, so a file that has not grown is read to its end in one call.
    std::string text(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(text.size() * 2); // grown since fstat (edited in place)
        const ssize_t got = ::read(file.get(), text.data() + used, text.size() - used);
        if (got == 0) {
            text.resize(used);
            return text;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = errno;
            return std::nullopt;
        }
        used += static_cast<std::size_t>(got);
    }
}

// The last parsed version of the store file, reused while the file keeps its identity: a
// read is then one stat and one hash lookup. Saves by this process refresh it with what they
// wrote; saves by another running copy are new files, so the next read parses them.
class ParsedStore {
public:
    // The parsed file, or nullptr (with the error) when it cannot be read.
    std::shared_ptr<const Table> Load(const std::string& path, int& error) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            error = errno;
            if (error != ENOENT)
                return nullptr;
        }
        const Identity now = error == ENOENT ? Identity() : Identity::Of(info);
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            if (table_ && path == path_ && now == identity_)
                return table_;
        }
        if (error == ENOENT) {
            auto empty = std::make_shared<const Table>();
            Remember(path, Identity(), empty);
            return empty;
        }
        if (S_ISDIR(info.st_mode)) {
            error = EISDIR;
            return nullptr;
        }
        Identity read;
        error = 0;
        const auto text = ReadStoreFile(path, error, &read);
        if (!text)
            return nullptr;
        auto table = std::make_shared<const Table>(Parse(*text));
        Remember(path, read, table);
        return table;
    }

    // Keeps the parse of a file just read for another purpose, so the next read need not
    // open it again; parsed only when it is not the version already kept.
    void Adopt(const std::string& path, const Identity& identity, std::string_view text) {
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            if (table_ && path == path_ && identity == identity_)
                return;
        }
        Remember(path, identity, std::make_shared<const Table>(Parse(text)));
    }

    void Remember(const std::string& path, const Identity& identity,
                  std::shared_ptr<const Table> table) {
        const std::lock_guard<std::mutex> guard(mutex_);
        path_ = path;
        identity_ = identity;
        table_ = std::move(table);
    }

private:
    std::mutex mutex_;
    std::string path_;
    Identity identity_;
    std::shared_ptr<const Table> table_;
};

ParsedStore& Parsed() {
    static ParsedStore store;
    return store;
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
// Returns the identity of the file written, which the rename keeps.
Identity ReplaceFile(const std::string& folder, const std::string& path, std::string_view text) {
    const std::string temp = path + ".tmp";
    if (::unlink(temp.c_str()) != 0 && errno != ENOENT)
        Fail("remove", temp, errno);
    FileDescriptor file(
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0)
        Fail("create", temp, errno);
    Identity written;
    try {
        // The umask may have narrowed the mode; fix it before any byte is written.
        if (::fchmod(file.get(), 0600) != 0)
            Fail("protect", temp, errno);
        WriteAll(file.get(), text, temp);
        if (::fsync(file.get()) != 0)
            Fail("flush", temp, errno);
        struct stat info {};
        if (::fstat(file.get(), &info) != 0)
            Fail("examine", temp, errno);
        written = Identity::Of(info);
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
    return written;
}

std::optional<std::string> ReadStored(const std::string& key) {
    int error = 0;
    const auto table = Parsed().Load(SettingsStore::FilePath(), error);
    if (!table) // an unreadable store reads as empty: every reader gets its default
        return std::nullopt;
    const std::string* value = table->Find(key);
    return value ? std::optional<std::string>(*value) : std::nullopt;
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
    Identity identity;
    const auto text = ReadStoreFile(path, error, &identity);
    if (!text)
        return std::strerror(error);
    // The file is read through, so the first setting read after this check opens it no more.
    if (identity != Identity())
        Parsed().Adopt(path, identity, *text);
    return {};
}

std::string SettingsStore::GetValue(const std::string& key, const std::string& defaultValue) {
    return ReadStored(key).value_or(defaultValue);
}

std::vector<std::string> SettingsStore::GetValues(const std::vector<std::string>& keys,
                                                  const std::string& defaultValue) {
    int error = 0;
    const auto table = Parsed().Load(FilePath(), error);
    std::vector<std::string> values;
    values.reserve(keys.size());
    for (const std::string& key : keys) {
        const std::string* value = table ? table->Find(key) : nullptr;
        values.push_back(value ? *value : defaultValue);
    }
    return values;
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

using Compute = std::function<std::vector<SettingsStore::Change>(const SettingsStore::Lookup&)>;

// The stored table and the changes computed from it; the store file must have been read (an
// unreadable store is never overwritten).
std::pair<std::shared_ptr<const Table>, std::vector<SettingsStore::Change>>
StoredAndChanges(const std::string& path, const Compute& compute) {
    int error = 0;
    auto before = Parsed().Load(path, error);
    if (!before)
        Fail("read", path, error);
    const SettingsStore::Lookup lookup = [&before](const std::string& key) {
        const std::string* value = before->Find(key);
        return value ? std::optional<std::string>(*value) : std::nullopt;
    };
    auto changes = compute(lookup);
    return {std::move(before), std::move(changes)};
}

// Whether every change finds its result already stored (the value set is the stored one, the
// key deleted is absent), so applying them all leaves the table exactly as it is. Checked
// without copying the table, which for a store with many accounts is most of a save's cost.
bool AlreadyStored(const Table& table, const std::vector<SettingsStore::Change>& changes) {
    return std::all_of(changes.begin(), changes.end(), [&](const SettingsStore::Change& c) {
        const std::string* stored = table.Find(c.Key);
        return c.Value ? stored && *stored == *c.Value : stored == nullptr;
    });
}

// The stored table with the changes applied; their texts are moved into it.
Table Applied(const Table& before, std::vector<SettingsStore::Change>&& changes) {
    Table after = before;
    for (SettingsStore::Change& change : changes) {
        if (change.Value)
            after.Set(std::move(change.Key), std::move(*change.Value));
        else
            after.Erase(change.Key);
    }
    return after;
}

} // namespace

void SettingsStore::Update(
    const std::function<std::vector<Change>(const Lookup& stored)>& compute) {
    // A change that leaves the store as it is needs no write access at all: checked first,
    // without creating the folder or taking the lock, so storing the value already stored
    // works in a store the user can read but not write.
    std::shared_ptr<const Table> checked;
    std::optional<Table> after;
    if (const std::string path = FilePath(); !path.empty()) {
        auto [before, changes] = StoredAndChanges(path, compute);
        if (AlreadyStored(*before, changes))
            return;
        after = Applied(*before, std::move(changes));
        if (*after == *before)
            return;
        checked = before;
    }
    const std::string folder = EnsureFolder();
    const FileDescriptor lock = LockStore(folder);
    const std::string path = FilePath();
    // The changes are computed from the stored table alone, so while it is still the one
    // checked (no other writer came in between), the table made from them then is the one
    // to write.
    int error = 0;
    if (!checked || Parsed().Load(path, error) != checked) {
        auto [before, changes] = StoredAndChanges(path, compute);
        if (AlreadyStored(*before, changes))
            return;
        after = Applied(*before, std::move(changes));
        if (*after == *before)
            return;
    }
    const Identity written = ReplaceFile(folder, path, after->Serialize());
    after->Compact();
    Parsed().Remember(path, written, std::make_shared<const Table>(std::move(*after)));
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

double SettingsStore::GetFlag(const std::string& key, double defaultValue) {
    const auto stored = ReadStored(key);
    if (!stored)
        return defaultValue;
    return ParseNumber(*stored).value_or(0.0);
}

bool SettingsStore::IsFlagOn(const std::string& key, bool defaultOn) {
    return GetFlag(key, defaultOn ? 1.0 : 0.0) == 1.0;
}

void SettingsStore::SaveInteger(const std::string& key, long number) {
    SaveValue(key, IntegerText(number));
}

} // namespace postlark
