// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/base/FileCalls.h"

#include "platform/base/LastError.h"
#include "platform/base/SystemError.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace postlark::win {

namespace {

int Descriptor(HANDLE handle) {
    return handle >= 0 && handle <= INT32_MAX ? static_cast<int>(handle) : -1;
}

// The last error from errno, and FALSE.
BOOL FailFromErrno() {
    SetLastErrorFromErrno(errno);
    return FALSE_;
}

// 100-ns units since 1601-01-01 UTC.
FILETIME FileTimeOf(const timespec& when) {
    constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
    const auto units = static_cast<std::uint64_t>(
        (when.tv_sec + kSecondsFrom1601To1970) * 10000000 + when.tv_nsec / 100);
    return {static_cast<DWORD>(units), static_cast<DWORD>(units >> 32)};
}

DWORD AttributesOf(const struct stat& info) {
    DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if (!(info.st_mode & S_IWUSR))
        attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

void Fill(const struct stat& info, BY_HANDLE_FILE_INFORMATION& out) {
    const auto device = static_cast<std::uint64_t>(info.st_dev);
    const auto inode = static_cast<std::uint64_t>(info.st_ino);
    const auto size = static_cast<std::uint64_t>(info.st_size);
    out.dwFileAttributes = AttributesOf(info);
    out.ftCreationTime = FileTimeOf(info.st_ctim);
    out.ftLastAccessTime = FileTimeOf(info.st_atim);
    out.ftLastWriteTime = FileTimeOf(info.st_mtim);
    out.dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    out.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    out.nFileSizeLow = static_cast<DWORD>(size);
    out.nNumberOfLinks = static_cast<DWORD>(info.st_nlink);
    out.nFileIndexHigh = static_cast<DWORD>(inode >> 32);
    out.nFileIndexLow = static_cast<DWORD>(inode);
    out.dwLastWriteTimeExtraNs = static_cast<DWORD>(info.st_mtim.tv_nsec % 100);
}

} // namespace

HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD, void*,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    const bool reads = dwDesiredAccess & GENERIC_READ;
    const bool writes = dwDesiredAccess & GENERIC_WRITE;
    int flags = (writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY) | O_CLOEXEC;
    if (dwFlagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT)
        flags |= O_NOFOLLOW;
    int fd = -1;
    bool created = false;
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        fd = ::open(lpFileName, flags | O_CREAT | O_EXCL, 0600);
        created = fd >= 0;
        break;
    case OPEN_EXISTING:
        fd = ::open(lpFileName, flags);
        break;
    case OPEN_ALWAYS:
        // One call when the file exists. A name that appears in between, or a link to nothing,
        // is opened as it is.
        fd = ::open(lpFileName, flags);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(lpFileName, flags | O_CREAT | O_EXCL, 0600);
            created = fd >= 0;
            if (fd < 0 && errno == EEXIST)
                fd = ::open(lpFileName, flags | O_CREAT, 0600);
        }
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (fd < 0) {
        SetLastErrorFromErrno(errno, errno == EEXIST ? ERROR_FILE_EXISTS : ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    if (created) {
        // Owner-only before any byte is written, whatever the umask left; a file that cannot
        // be made so is removed again.
        if (::fchmod(fd, 0600) != 0) {
            SetLastErrorFromErrno(errno);
            ::close(fd);
            ::unlink(lpFileName);
            return INVALID_HANDLE_VALUE;
        }
    } else if (!writes && !(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS)) {
        // A folder opens for reading; without FILE_FLAG_BACKUP_SEMANTICS it is refused.
        struct stat info {};
        const bool folder = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
        if (folder) {
            ::close(fd);
            SetLastErrorFromErrno(EISDIR);
            return INVALID_HANDLE_VALUE;
        }
    }
    if (dwCreationDisposition == OPEN_ALWAYS)
        SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return fd;
}

BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              OVERLAPPED*) {
    ssize_t got;
    while ((got = ::read(Descriptor(hFile), lpBuffer, nNumberOfBytesToRead)) < 0 &&
           errno == EINTR) {
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = got > 0 ? static_cast<DWORD>(got) : 0;
    return got < 0 ? FailFromErrno() : TRUE_;
}

BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
               DWORD* lpNumberOfBytesWritten, OVERLAPPED*) {
    const auto* bytes = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        const ssize_t put = ::write(Descriptor(hFile), bytes + done, nNumberOfBytesToWrite - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            break;
        done += static_cast<DWORD>(put);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = done;
    return done == nNumberOfBytesToWrite ? TRUE_ : FailFromErrno();
}

BOOL FlushFileBuffers(HANDLE hFile) {
    return ::fsync(Descriptor(hFile)) == 0 ? TRUE_ : FailFromErrno();
}

BOOL CloseHandle(HANDLE hObject) {
    // The descriptor is released even when close reports an interruption.
    return ::close(Descriptor(hObject)) == 0 || errno == EINTR ? TRUE_ : FailFromErrno();
}

BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* lpFileInformation) {
    struct stat info {};
    if (::fstat(Descriptor(hFile), &info) != 0)
        return FailFromErrno();
    Fill(info, *lpFileInformation);
    return TRUE_;
}

BOOL GetFileAttributesExA(const char* lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                          void* lpFileInformation) {
    if (fInfoLevelId != GetFileExInfoStandard && fInfoLevelId != GetFileExInfoByHandleInformation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
    struct stat info {};
    if (::stat(lpFileName, &info) != 0)
        return FailFromErrno();
    BY_HANDLE_FILE_INFORMATION full{};
    Fill(info, full);
    if (fInfoLevelId == GetFileExInfoByHandleInformation) {
        *static_cast<BY_HANDLE_FILE_INFORMATION*>(lpFileInformation) = full;
    } else {
        *static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(lpFileInformation) = {
            full.dwFileAttributes, full.ftCreationTime, full.ftLastAccessTime,
            full.ftLastWriteTime,  full.nFileSizeHigh,  full.nFileSizeLow};
    }
    return TRUE_;
}

BOOL MoveFileExA(const char* lpExistingFileName, const char* lpNewFileName, DWORD dwFlags) {
    const int result =
        dwFlags & MOVEFILE_REPLACE_EXISTING
            ? ::rename(lpExistingFileName, lpNewFileName)
            : ::renameat2(AT_FDCWD, lpExistingFileName, AT_FDCWD, lpNewFileName, RENAME_NOREPLACE);
    return result == 0 ? TRUE_ : FailFromErrno();
}

BOOL DeleteFileA(const char* lpFileName) {
    return ::unlink(lpFileName) == 0 ? TRUE_ : FailFromErrno();
}

BOOL CreateDirectoryA(const char* lpPathName, void*) {
    if (::mkdir(lpPathName, 0700) == 0)
        return TRUE_;
    SetLastErrorFromErrno(errno, errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno));
    return FALSE_;
}

BOOL LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD, DWORD, DWORD, OVERLAPPED*) {
    int operation = dwFlags & LOCKFILE_EXCLUSIVE_LOCK ? LOCK_EX : LOCK_SH;
    if (dwFlags & LOCKFILE_FAIL_IMMEDIATELY)
        operation |= LOCK_NB;
    while (::flock(Descriptor(hFile), operation) != 0) {
        if (errno != EINTR)
            return FailFromErrno();
    }
    return TRUE_;
}

BOOL UnlockFileEx(HANDLE hFile, DWORD, DWORD, DWORD, OVERLAPPED*) {
    return ::flock(Descriptor(hFile), LOCK_UN) == 0 ? TRUE_ : FailFromErrno();
}

BOOL SetOwnerOnlyAccessA(const char* lpFileName) {
    struct stat info {};
    if (::stat(lpFileName, &info) != 0)
        return FailFromErrno();
    const mode_t mode = S_ISDIR(info.st_mode) ? 0700 : 0600;
    if ((info.st_mode & 07777) != mode && ::chmod(lpFileName, mode) != 0)
        return FailFromErrno();
    return TRUE_;
}

} // namespace postlark::win
