// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The system's text for a last-error value (FormatMessageA), and the link from the C library's
// error numbers to last-error values that the calls over it use. The text is the C library's
// own (strerror): for the last error a call set from an error number, that number's text
// exactly; for any other value, the text of the error number that maps to it.
#include "platform/base/Win32Types.h"

namespace postlark::win {

constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

// Only FORMAT_MESSAGE_FROM_SYSTEM is offered (inserts and line widths do not apply: the texts
// have neither); the text never ends in a line break. Returns the characters placed, without
// the terminating zero, or 0: ERROR_INSUFFICIENT_BUFFER (122) when the text and its zero do
// not fit in nSize, ERROR_MR_MID_NOT_FOUND (317) for a value without a text.
DWORD FormatMessageA(DWORD dwFlags, const void* lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                     char* lpBuffer, DWORD nSize, void* Arguments);

// For the layer's own calls over the C library. The last-error value of an error number (the
// caller's own where a call gives the number another meaning, as CreateDirectoryA does ENOENT).
DWORD ErrorFromErrno(int error);
// Sets the last error to `code` (by default the number's value) and keeps the number, so that
// FormatMessageA gives its text.
void SetLastErrorFromErrno(int error, DWORD code);
void SetLastErrorFromErrno(int error);

} // namespace postlark::win
