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
    // Read straight into a buffer of the file's size, one byte more so that the end is seen
    // without another buffer; it grows when the file grows while being read.
    std::string text(static_cast<std::size_t>(std::max<off_t>(info.st_size, 0)) + 1, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(text.size() * 2);
        const ssize_t got = ::read(fd, text.data() + used, text.size() - used);
        if (got == 0)
            break;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = ErrorFromErrno(errno, false);
            ::close(fd);
            return std::nullopt;
        }
        used += static_cast<std::size_t>(got);
    }
    ::close(fd);
    text.resize(used);
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

// The file a write goes to: a symbolic link's target (also when that does not exist yet), so
// the link stays a link. `exists` and `info` tell whether it exists and what it is.
bool WriteTarget(const std::string& fileName, std::string& path, bool& exists, struct stat& info) {
    path = fileName;
    exists = ::lstat(fileName.c_str(), &info) == 0;
    if (exists && S_ISLNK(info.st_mode)) {
        if (char* real = ::realpath(fileName.c_str(), nullptr)) {
            path = real;
            std::free(real);
            exists = ::stat(path.c_str(), &info) == 0;
            return true;
        }
        exists = false; // a dangling link: its target does not exist yet
        char target[PATH_MAX];
        const ssize_t length = ::readlink(fileName.c_str(), target, sizeof target - 1);
        if (length > 0) {
            target[length] = '\0';
            const std::size_t slash = fileName.rfind('/');
            path = target[0] == '/' || slash == std::string::npos
                       ? std::string(target)
                       : fileName.substr(0, slash + 1) + target;
        }
        return true;
    }
    if (!exists && errno != ENOENT) {
        SetLastError(ErrorFromErrno(errno, true));
        return false;
    }
    return true;
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
    const ProfileText profile(text ? *text : std::string());
    SetLastError(error);

    if (!section || !key) {
        const std::vector<std::string> names =
            section ? profile.KeyNames(section) : profile.SectionNames();
        return PlaceList(std::vector<std::string_view>(names.begin(), names.end()), buffer, size);
    }
    const std::optional<std::string> value = profile.Value(section, key);
    return Place(value ? std::string_view(*value) : fallback, buffer, size);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (!fileName || !*fileName || !ProfileText::CanHold(section, key, value)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
    return EditProfileFile(
        fileName, [&](ProfileText& text) { return text.Write(section, key, value); }, false);
}

std::optional<std::string> ReadProfileFileText(const std::string& fileName) {
    DWORD error = ERROR_SUCCESS;
    std::optional<std::string> text = ReadFile(fileName.c_str(), error);
    SetLastError(error);
    return text;
}

std::optional<ProfileText> ReadProfileFile(const std::string& fileName) {
    std::optional<std::string> text = ReadProfileFileText(fileName);
    if (!text)
        return std::nullopt;
    return ProfileText(std::move(*text));
}

BOOL EditProfileFile(const std::string& fileName, const std::function<bool(ProfileText&)>& edit,
                     bool ownerOnly) {
    return EditProfileFileText(
        fileName,
        [&](const std::string& text) -> std::optional<std::string> {
            ProfileText profile(text);
            if (!edit(profile))
                return std::nullopt;
            return profile.Text();
        },
        ownerOnly);
}

BOOL EditProfileFileText(
    const std::string& fileName,
    const std::function<std::optional<std::string>(const std::string& text)>& edit,
    bool ownerOnly) {
    std::string path;
    bool exists = false;
    struct stat info {};
    if (fileName.empty() || !WriteTarget(fileName, path, exists, info))
        return FALSE_;

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
    const std::optional<std::string> after = edit(before);
    if (!after) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
    const mode_t mode = ownerOnly || !exists ? 0600 : (info.st_mode & 07777);
    const bool sameMode = !exists || (info.st_mode & 07777) == mode;
    if (*after == before && sameMode) {
        SetLastError(ERROR_SUCCESS);
        return TRUE_;
    }
    if (!ReplaceFile(path, *after, mode))
        return FALSE_;
    SetLastError(ERROR_SUCCESS);
    return TRUE_;
}

std::optional<std::string> ReadWholeProfileString(const char* section, const std::string& key,
                                                  const std::string& fileName) {
    const std::optional<ProfileText> text = ReadProfileFile(fileName);
    return text ? text->Value(section, key) : std::nullopt;
}

} // namespace postlark::win
