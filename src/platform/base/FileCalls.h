// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The file calls (their "A" forms) on POSIX files. Names, flags, dispositions, structures and
// last errors are those of the Windows file API; a handle is a file descriptor (closed on exec).
// Where POSIX differs:
// - Share modes are not enforced and security attributes and template files are ignored: a
//   file these calls create is always owner-only (0600), whatever the umask.
// - A folder opens only for reading, with FILE_FLAG_BACKUP_SEMANTICS; FlushFileBuffers on
//   such a handle flushes the folder's entries.
// - FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link as the last part of the name is not
//   followed, and opening one fails (ERROR_CANT_RESOLVE_FILENAME, 1921).
// - LockFileEx and UnlockFileEx lock the whole file, whatever range is given.
// - Paths may be longer than MAX_PATH; other calls follow symbolic links.
#include "platform/base/Win32Types.h"

namespace postlark::win {

constexpr HANDLE INVALID_HANDLE_VALUE = -1;
constexpr DWORD MAXDWORD = 0xFFFFFFFF;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;

constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

// Creation dispositions offered.
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
constexpr DWORD FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000;

constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;

constexpr DWORD LOCKFILE_FAIL_IMMEDIATELY = 0x1;
constexpr DWORD LOCKFILE_EXCLUSIVE_LOCK = 0x2;

// Last errors that callers look for; the others follow the system's error numbers
// (SystemError.h).
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_LOCK_VIOLATION = 33;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;

struct FILETIME {
    DWORD dwLowDateTime; // 100-ns units since 1601-01-01 UTC
    DWORD dwHighDateTime;
};

struct OVERLAPPED {
    std::uintptr_t Internal;
    std::uintptr_t InternalHigh;
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};

struct WIN32_FILE_ATTRIBUTE_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime; // the last change of the file's status: POSIX keeps no creation
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber; // the device number, folded to 32 bits
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh; // the inode number
    DWORD nFileIndexLow;
    // Postlark's own: the nanoseconds (0-99) below ftLastWriteTime's 100-ns unit, which the
    // file systems here keep, so that a rewrite within one unit is told apart (0 on Windows).
    DWORD dwLastWriteTimeExtraNs;
};

enum GET_FILEEX_INFO_LEVELS {
    GetFileExInfoStandard = 0, // WIN32_FILE_ATTRIBUTE_DATA
    // Postlark's own: the BY_HANDLE_FILE_INFORMATION of the file by its path, in one system
    // call, for checking often and cheaply whether a file is still the version last read.
    GetFileExInfoByHandleInformation = 0x100,
};

HANDLE CreateFileA(const char* lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   void* lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, void* lpBuffer, DWORD nNumberOfBytesToRead, DWORD* lpNumberOfBytesRead,
              OVERLAPPED* lpOverlapped);
// Writes all the bytes (or fails).
BOOL WriteFile(HANDLE hFile, const void* lpBuffer, DWORD nNumberOfBytesToWrite,
               DWORD* lpNumberOfBytesWritten, OVERLAPPED* lpOverlapped);
BOOL FlushFileBuffers(HANDLE hFile);
BOOL CloseHandle(HANDLE hObject);
BOOL GetFileInformationByHandle(HANDLE hFile, BY_HANDLE_FILE_INFORMATION* lpFileInformation);
BOOL GetFileAttributesExA(const char* lpFileName, GET_FILEEX_INFO_LEVELS fInfoLevelId,
                          void* lpFileInformation);
// MOVEFILE_WRITE_THROUGH is accepted: a move here is always a rename, never a copy.
BOOL MoveFileExA(const char* lpExistingFileName, const char* lpNewFileName, DWORD dwFlags);
BOOL DeleteFileA(const char* lpFileName);
// The new folder has mode 0700, less what the umask takes away.
BOOL CreateDirectoryA(const char* lpPathName, void* lpSecurityAttributes);
// Blocks until the lock is granted unless LOCKFILE_FAIL_IMMEDIATELY is given (then
// ERROR_LOCK_VIOLATION). Each handle holds its own lock; closing it releases the lock.
BOOL LockFileEx(HANDLE hFile, DWORD dwFlags, DWORD dwReserved, DWORD nNumberOfBytesToLockLow,
                DWORD nNumberOfBytesToLockHigh, OVERLAPPED* lpOverlapped);
BOOL UnlockFileEx(HANDLE hFile, DWORD dwReserved, DWORD nNumberOfBytesToUnlockLow,
                  DWORD nNumberOfBytesToUnlockHigh, OVERLAPPED* lpOverlapped);

// Postlark's own, standing for the owner-only security descriptor a Windows build would set:
// gives a folder mode 0700 and a file mode 0600, and changes nothing when it has that mode.
BOOL SetOwnerOnlyAccessA(const char* lpFileName);

} // namespace postlark::win
