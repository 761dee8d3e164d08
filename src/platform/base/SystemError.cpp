// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/base/SystemError.h"

#include "platform/base/LastError.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace postlark::win {

namespace {

struct ErrnoCode {
    int error;
    DWORD code;
};

// The last-error value of each error number the file calls meet; the first number of a value
// gives its text when no call set it. Others are ERROR_GEN_FAILURE.
constexpr ErrnoCode kCodes[] = {
    {0, ERROR_SUCCESS},  {ENOENT, 2}, // ERROR_FILE_NOT_FOUND
    {ENOTDIR, 3},                     // ERROR_PATH_NOT_FOUND
    {EMFILE, 4},                      // ERROR_TOO_MANY_OPEN_FILES
    {ENFILE, 4},                      //
    {EACCES, 5},                      // ERROR_ACCESS_DENIED
    {EPERM, 5},                       //
    {EISDIR, 5},                      // (a folder opened as a file)
    {EBADF, 6},                       // ERROR_INVALID_HANDLE
    {ENOMEM, 8},                      // ERROR_NOT_ENOUGH_MEMORY
    {EXDEV, 17},                      // ERROR_NOT_SAME_DEVICE
    {EROFS, 19},                      // ERROR_WRITE_PROTECT
    {ETXTBSY, 32},                    // ERROR_SHARING_VIOLATION
    {EWOULDBLOCK, 33},                // ERROR_LOCK_VIOLATION
    {EINVAL, 87},                     // ERROR_INVALID_PARAMETER
    {ENOSPC, 112},                    // ERROR_DISK_FULL
    {ENOTEMPTY, 145},                 // ERROR_DIR_NOT_EMPTY
    {EBUSY, 170},                     // ERROR_BUSY
    {EEXIST, 183},                    // ERROR_ALREADY_EXISTS
    {ENAMETOOLONG, 206},              // ERROR_FILENAME_EXCED_RANGE
    {EFBIG, 223},                     // ERROR_FILE_TOO_LARGE
    {EIO, 1117},                      // ERROR_IO_DEVICE
    {EDQUOT, 1295},                   // ERROR_DISK_QUOTA_EXCEEDED
    {ELOOP, 1921},                    // ERROR_CANT_RESOLVE_FILENAME
};
constexpr DWORD kGeneralFailure = 31; // ERROR_GEN_FAILURE
constexpr DWORD kInsufficientBuffer = 122;
constexpr DWORD kNoMessage = 317; // ERROR_MR_MID_NOT_FOUND

// The error number behind the last error a call set from one, and that last error.
thread_local int lastErrno = 0;
thread_local DWORD lastErrnoCode = ERROR_SUCCESS;

} // namespace

void SetLastErrorFromErrno(int error, DWORD code) {
    lastErrno = error;
    lastErrnoCode = code;
    SetLastError(code);
}

void SetLastErrorFromErrno(int error) {
    SetLastErrorFromErrno(error, ErrorFromErrno(error));
}

DWORD ErrorFromErrno(int error) {
    const auto entry = std::find_if(std::begin(kCodes), std::end(kCodes),
                                    [&](const ErrnoCode& e) { return e.error == error; });
    return entry != std::end(kCodes) ? entry->code : kGeneralFailure;
}

DWORD FormatMessageA(DWORD dwFlags, const void*, DWORD dwMessageId, DWORD, char* lpBuffer,
                     DWORD nSize, void*) {
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || !lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int error = -1;
    if (dwMessageId == lastErrnoCode) {
        error = lastErrno;
    } else {
        const auto entry = std::find_if(std::begin(kCodes), std::end(kCodes),
                                        [&](const ErrnoCode& e) { return e.code == dwMessageId; });
        if (entry != std::end(kCodes))
            error = entry->error;
    }
    if (error < 0) {
        SetLastError(kNoMessage);
        return 0;
    }
    char scratch[256];
    const char* text = ::strerror_r(error, scratch, sizeof scratch);
    const std::size_t length = std::strlen(text);
    if (length >= nSize) {
        SetLastError(kInsufficientBuffer);
        return 0;
    }
    std::memcpy(lpBuffer, text, length + 1);
    return static_cast<DWORD>(length);
}

} // namespace postlark::win
