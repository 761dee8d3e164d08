// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/SettingsStore.h"

#include "platform/base/FileCalls.h"
#include "platform/base/LastError.h"
#include "platform/base/RuntimeError.h"
#include "platform/base/ShellFolders.h"
#include "platform/base/SystemError.h"
#include "store/SettingsTable.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>

namespace postlark {

using namespace win;

namespace {

constexpr const char* kApplication = "Postlark";

// The system's words for a last error ("Permission denied").
std::string ReasonText(DWORD error) {
    char text[256];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
                                            FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                        nullptr, error, 0, text, sizeof text, nullptr);
    return length != 0 ? std::string(text, length) : "error " + std::to_string(error);
}

[[noreturn]] void Fail(const std::string& action, const std::string& path, DWORD error) {
    const std::string reason = ReasonText(error);
    throw SettingsStoreError(
        "Path/File access error: cannot " + action + " " + path + " (" + reason + ")", reason);
}

// Fails with the last error of the platform call just made.
[[noreturn]] void FailLast(const std::string& action, const std::string& path) {
    Fail(action, path, GetLastError());
}

// ---- Files -----------------------------------------------------------------------------

std::string ConfigHome() {
    std::string home;
    if (SHGetFolderPathA(0, CSIDL_APPDATA, 0, SHGFP_TYPE_CURRENT, home) != S_OK)
        return ""; // no home at all: nothing to read, and saving is refused
    return home;
}

class FileHandle {
public:
    explicit FileHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}

    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    bool Close() {
        const HANDLE handle = std::exchange(handle_, INVALID_HANDLE_VALUE);
        return handle == INVALID_HANDLE_VALUE || CloseHandle(handle);
    }

private:
    HANDLE handle_;
};

// What tells one version of the store file from another. Every save replaces the file by a
// rename, so a new version is a new file (index); size and modification time (to the
// nanosecond) guard against a file edited in place.
struct Identity {
    DWORD volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::uint64_t modified = 0; // 100-ns units
    DWORD modifiedExtraNs = 0;

    static Identity Of(const BY_HANDLE_FILE_INFORMATION& info) {
        const auto join = [](DWORD high, DWORD low) { return std::uint64_t{high} << 32 | low; };
        return {info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
                join(info.nFileSizeHigh, info.nFileSizeLow),
                join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime),
                info.dwLastWriteTimeExtraNs};
    }
    bool operator==(const Identity&) const = default;
};

// Reads the whole store file into a buffer sized once from the file's size. An absent file
// reads as empty (identity all zero); any other failure gives nullopt and the last error.
std::optional<std::string> ReadStoreFile(const std::string& path, DWORD& error,
                                         Identity* identity = nullptr) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, 0));
    if (!file) {
        error = GetLastError();
        if (identity)
            *identity = Identity();
        return error == ERROR_FILE_NOT_FOUND ? std::optional<std::string>("") : std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file.get(), &info)) {
        error = GetLastError();
        return std::nullopt;
    }
    const Identity read = Identity::Of(info);
    if (identity)
        *identity = read;
    // One byte more than the size, so a file that has not grown is read to its end in one call.
    std::string text(static_cast<std::size_t>(read.size) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(text.size() * 2); // grown since it was examined (edited in place)
        const auto want = static_cast<DWORD>(std::min<std::size_t>(text.size() - used, MAXDWORD));
        DWORD got = 0;
        if (!ReadFile(file.get(), text.data() + used, want, &got, nullptr)) {
            error = GetLastError();
            return std::nullopt;
        }
        if (got == 0) {
            text.resize(used);
            return text;
        }
        used += got;
    }
}

// The last parsed version of the store file, reused while the file keeps its identity: a
// read is then one stat and one hash lookup. Saves by this process refresh it with what they
// wrote; saves by another running copy are new files, so the next read parses them.
class ParsedStore {
public:
    // The parsed file, or nullptr (with the error) when it cannot be read.
    // A folder in the file's place is refused when it is opened as a file.
    std::shared_ptr<const SettingsTable> Load(const std::string& path, DWORD& error) {
        BY_HANDLE_FILE_INFORMATION info{};
        bool absent = false;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoByHandleInformation, &info)) {
            error = GetLastError();
            if (error != ERROR_FILE_NOT_FOUND)
                return nullptr;
            absent = true;
        }
        const Identity now = absent ? Identity() : Identity::Of(info);
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            if (table_ && path == path_ && now == identity_)
                return table_;
        }
        if (absent) {
            auto empty = std::make_shared<SettingsTable>();
            Remember(path, Identity(), empty);
            return empty;
        }
        Identity read;
        error = 0;
        const auto text = ReadStoreFile(path, error, &read);
        if (!text)
            return nullptr;
        auto table = std::make_shared<SettingsTable>(SettingsTable::Parse(*text));
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
        Remember(path, identity, std::make_shared<SettingsTable>(SettingsTable::Parse(text)));
    }

    // The table to change for a save: the kept one itself when nothing else holds it (it is
    // no longer kept: the save keeps what it writes), else a copy. Tables are made non-const,
    // so the sole owner may change one. A save of many accounts saves copying the whole store.
    SettingsTable Take(std::shared_ptr<const SettingsTable> table) {
        {
            const std::lock_guard<std::mutex> guard(mutex_);
            if (table_ == table)
                table_.reset();
        }
        if (table.use_count() == 1)
            return std::move(const_cast<SettingsTable&>(*table));
        return *table;
    }

    void Remember(const std::string& path, const Identity& identity,
                  std::shared_ptr<const SettingsTable> table) {
        const std::lock_guard<std::mutex> guard(mutex_);
        path_ = path;
        identity_ = identity;
        table_ = std::move(table);
    }

private:
    std::mutex mutex_;
    std::string path_;
    Identity identity_;
    std::shared_ptr<const SettingsTable> table_;
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
        if (!CreateDirectoryA(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            FailLast("create the folder", part);
        if (slash == std::string::npos)
            break;
    }
    WIN32_FILE_ATTRIBUTE_DATA found{};
    if (!GetFileAttributesExA(folder.c_str(), GetFileExInfoStandard, &found))
        FailLast("open the folder", folder);
    if (!SetOwnerOnlyAccessA(folder.c_str()))
        FailLast("protect the folder", folder);
    return folder;
}

// Exclusive lock for one read-modify-write. A separate lock file, because the store file
// itself is replaced by every write. It is never removed, so all writers lock the same file.
FileHandle LockStore(const std::string& folder) {
    const std::string path = folder + "/settings.lock";
    FileHandle lock(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, 0));
    if (!lock)
        FailLast("open the lock file", path);
    OVERLAPPED whole{};
    if (!LockFileEx(lock.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
        FailLast("lock", path);
    return lock;
}

void WriteAll(HANDLE file, std::string_view text, const std::string& path) {
    while (!text.empty()) {
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), MAXDWORD));
        DWORD done = 0;
        if (!WriteFile(file, text.data(), chunk, &done, nullptr))
            FailLast("write", path);
        text.remove_prefix(done);
    }
}

// Replaces the store file: a temporary file in the same folder (mode 0600 from its creation),
// flushed to disk, renamed over the old file, then the folder entry flushed. A reader, or a
// crash at any point, sees either the complete old file or the complete new one. The caller
// holds the lock; a temporary file left by a killed writer is simply replaced.
// Returns the identity of the file written, which the rename keeps.
Identity ReplaceFile(const std::string& folder, const std::string& path, std::string_view text) {
    const std::string temp = path + ".tmp";
    if (!DeleteFileA(temp.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
        FailLast("remove", temp);
    // Created owner-only whatever the umask, before any byte is written.
    FileHandle file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, 0));
    if (!file)
        FailLast("create", temp);
    Identity written;
    try {
        WriteAll(file.get(), text, temp);
        if (!FlushFileBuffers(file.get()))
            FailLast("flush", temp);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(file.get(), &info))
            FailLast("examine", temp);
        written = Identity::Of(info);
        if (!file.Close())
            FailLast("close", temp);
        if (!MoveFileExA(temp.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            FailLast("replace", path);
    } catch (...) {
        DeleteFileA(temp.c_str());
        throw;
    }
    // The rename has happened: the save has landed, readers see the new file. Failing to
    // flush the folder entry only weakens durability across a power cut, so it is reported
    // on standard error and the save counts as done (reporting it as failed would make a
    // caller save again, adding an account twice).
    const FileHandle dir(CreateFileA(folder.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0));
    if (!dir || !FlushFileBuffers(dir.get()))
        std::fprintf(stderr,
                     "Postlark: settings saved, but the folder %s could not be flushed: %s\n",
                     folder.c_str(), ReasonText(GetLastError()).c_str());
    return written;
}

std::optional<std::string> ReadStored(const std::string& key) {
    DWORD error = 0;
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
    DWORD error = 0;
    Identity identity;
    const auto text = ReadStoreFile(path, error, &identity);
    if (!text)
        return ReasonText(error);
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
    return GetValuesAt(FilePath(), keys, defaultValue);
}

std::vector<std::string> SettingsStore::GetValuesAt(const std::string& filePath,
                                                    const std::vector<std::string>& keys,
                                                    const std::string& defaultValue) {
    DWORD error = 0;
    const auto table = Parsed().Load(filePath, error);
    std::vector<std::string> values;
    values.reserve(keys.size());
    for (const std::string& key : keys) {
        const std::string* value = table ? table->Find(key) : nullptr;
        values.push_back(value ? *value : defaultValue);
    }
    return values;
}

void SettingsStore::WithValues(
    const std::vector<std::string>& keys,
    const std::function<void(std::span<const std::string* const>)>& use) {
    DWORD error = 0;
    const auto table = Parsed().Load(FilePath(), error); // held until `use` returns
    std::vector<const std::string*> values(keys.size(), nullptr);
    for (std::size_t i = 0; table && i < keys.size(); ++i)
        values[i] = table->Find(keys[i]);
    use(values);
}

void SettingsStore::SaveValue(const std::string& key, const std::string& text) {
    Apply({Change::Set(key, text)});
}

void SettingsStore::DeleteValue(const std::string& key) {
    Apply({Change::Delete(key)});
}

void SettingsStore::Apply(const std::vector<Change>& changes) {
    Update(changes, nullptr);
}

void SettingsStore::Update(
    const std::function<std::vector<Change>(const Lookup& stored)>& compute) {
    Update({}, compute);
}

namespace {

using Compute = std::function<std::vector<SettingsStore::Change>(const SettingsStore::Lookup&)>;

// The stored table and the changes computed from it; the store file must have been read (an
// unreadable store is never overwritten).
std::pair<std::shared_ptr<const SettingsTable>, std::vector<SettingsStore::Change>>
StoredAndChanges(const std::string& path, const Compute& compute) {
    DWORD error = 0;
    auto before = Parsed().Load(path, error);
    if (!before)
        Fail("read", path, error);
    const SettingsStore::Lookup lookup = [&before](const std::string& key) {
        const std::string* value = before->Find(key);
        return value ? std::optional<std::string>(*value) : std::nullopt;
    };
    auto changes = compute ? compute(lookup) : std::vector<SettingsStore::Change>();
    return {std::move(before), std::move(changes)};
}

// Whether every change finds its result already stored (the value set is the stored one, the
// key deleted is absent), so applying them all leaves the table exactly as it is: then nothing
// is written, and no write access is needed.
bool AlreadyStored(const SettingsTable& table, const std::vector<SettingsStore::Change>& changes) {
    return std::all_of(changes.begin(), changes.end(), [&](const SettingsStore::Change& c) {
        const std::string* stored = table.Find(c.Key);
        return c.Value ? stored && *stored == *c.Value : stored == nullptr;
    });
}

// Applies the changes to the table; their texts are moved into it.
void ApplyChanges(SettingsTable& table, std::vector<SettingsStore::Change>&& changes) {
    for (SettingsStore::Change& change : changes) {
        if (change.Value)
            table.Set(std::move(change.Key), std::move(*change.Value));
        else
            table.Erase(change.Key);
    }
}

} // namespace

void SettingsStore::Update(
    std::vector<Change> changes,
    const std::function<std::vector<Change>(const Lookup& stored)>& compute) {
    // A change that leaves the store as it is needs no write access at all: checked first,
    // without creating the folder or taking the lock, so storing the value already stored
    // works in a store the user can read but not write.
    std::shared_ptr<const SettingsTable> checked;
    std::vector<Change> computed;
    if (const std::string path = FilePath(); !path.empty()) {
        auto [before, more] = StoredAndChanges(path, compute);
        if (AlreadyStored(*before, changes) && AlreadyStored(*before, more))
            return;
        checked = std::move(before);
        computed = std::move(more);
    }
    const std::string folder = EnsureFolder();
    const FileHandle lock = LockStore(folder);
    const std::string path = FilePath();
    // The changes are computed from the stored table alone, so while it is still the one
    // checked (no other writer came in between), they are the ones to apply. A change that
    // is not already stored changes the table unless the list also undoes it (no caller's
    // does; such a list would write the same entries again, which is harmless).
    DWORD error = 0;
    std::shared_ptr<const SettingsTable> before = checked ? Parsed().Load(path, error) : nullptr;
    if (!checked || before != checked) {
        auto [stored, more] = StoredAndChanges(path, compute);
        if (AlreadyStored(*stored, changes) && AlreadyStored(*stored, more))
            return;
        before = std::move(stored);
        computed = std::move(more);
    }
    checked.reset();
    SettingsTable after = Parsed().Take(std::move(before));
    ApplyChanges(after, std::move(changes));
    ApplyChanges(after, std::move(computed));
    const Identity written = ReplaceFile(folder, path, after.Serialize());
    after.Compact();
    Parsed().Remember(path, written, std::make_shared<SettingsTable>(std::move(after)));
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
