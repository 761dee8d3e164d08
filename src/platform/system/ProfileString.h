// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Initialization ("profile") files, with the text rules of ProfileText. Each write replaces
// the file whole (temporary file beside it, then rename), keeping an existing file's mode; a
// new file is created owner-only. A path that is not a regular file, or a file that cannot be
// read, is an error: a write then fails and never empties or replaces it.
#include "platform/base/Win32Types.h"
#include "platform/system/ProfileText.h"

#include <functional>
#include <optional>
#include <string>

namespace postlark::win {

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_WRITE_FAULT = 29;
constexpr DWORD ERROR_READ_FAULT = 30;

// Sets `key` of `section` to `value` in `fileName`, creating the file, the section or the
// entry as needed. A null `value` deletes the entry; a null `key` deletes the whole section.
// Returns nonzero on success, 0 on failure with the reason in GetLastError. A section name
// holding ']' or a line break, a key holding '=' or a line break or beginning with '[' or ';',
// a name with blanks around it, and a value holding a line break are refused
// (ERROR_INVALID_PARAMETER): no line of a file could hold them so that a read finds them.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

// Copies the value of `key` in `section` of `fileName` into `buffer` (`size` bytes, text
// always ended by '\0') and returns the number of characters placed. Surrounding blanks of
// the value are dropped, and one pair of matching quotes ('...' or "...") around it. A
// missing file, section or entry gives `defaultValue` (null for "") without its trailing
// spaces; a file that cannot be read also sets GetLastError. A value longer than size - 1
// characters is cut there and the result is size - 1.
// A null `key` lists the section's key names and a null `section` the file's section names,
// each name ended by '\0' and the list by a second '\0'; the result counts the characters
// before that final '\0' (size - 2 when the list was cut).
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* buffer, DWORD size, const char* fileName);

// The whole file, read once; nullopt, with the reason in GetLastError, when it is missing or
// cannot be read.
std::optional<ProfileText> ReadProfileFile(const std::string& fileName);
// The same file's bytes as they stand, for a reader of one section (ProfileText::EntriesOf).
std::optional<std::string> ReadProfileFileText(const std::string& fileName);

// Reads the file once (a missing one as empty), lets `edit` change its text, and replaces the
// file whole, once, when the text changed; a symbolic link's target is written, so the link
// stays a link. The file keeps its mode, or becomes owner-only (0600) when `ownerOnly` is set
// (then also when only the mode differs). An `edit` returning false leaves the file as it was
// (ERROR_INVALID_PARAMETER). Returns nonzero on success, 0 with the reason in GetLastError.
BOOL EditProfileFile(const std::string& fileName, const std::function<bool(ProfileText&)>& edit,
                     bool ownerOnly);

// As EditProfileFile, with `edit` given the file's whole text (a missing file's as empty)
// and returning the new text, or nullopt to leave the file as it was.
BOOL EditProfileFileText(
    const std::string& fileName,
    const std::function<std::optional<std::string>(const std::string& text)>& edit, bool ownerOnly);

// The whole value of `key` in `section` of `fileName`, never cut at a buffer size; nullopt
// when the file, the section or the entry is missing.
std::optional<std::string> ReadWholeProfileString(const char* section, const std::string& key,
                                                  const std::string& fileName);

} // namespace postlark::win
