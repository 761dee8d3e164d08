// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The registry calls (their "A" forms) over the Linux desktop's own facilities. Names,
// arguments, access masks, types and error codes are those of the Windows registry API.
//
// Keys that exist (names compare case-insensitively; "\" separates the parts of a path):
// - HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run, the programs started at
//   log-in. Its value "Postlark" (REG_SZ) is the XDG autostart entry
//   $XDG_CONFIG_HOME/autostart/Postlark.desktop (~/.config when XDG_CONFIG_HOME is unset or
//   relative). The value's data is the entry's Exec line, a command in the Desktop Entry Exec
//   syntax; the file's own string escapes (\\ \s \n \t \r) are added on writing and removed on
//   reading, so the data round-trips exactly. Setting the value writes a whole entry
//   atomically; deleting it removes the file. An entry with Hidden=true or
//   X-GNOME-Autostart-enabled=false, or a file with no [Desktop Entry] group, reads as absent;
//   an entry without Exec reads as empty text. Other value names of this key are absent and
//   cannot be set.
// - HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO, value "PATH", and
//   HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools Location, value "MSINFO": the
//   system-information program, the first of SystemInfoPrograms() found on PATH; "PATH" is its
//   absolute path, "MSINFO" its folder. Both keys are absent when none is found. Read-only.
// - Keys created with REG_OPTION_VOLATILE anywhere else under HKEY_CURRENT_USER: kept in memory
//   until the process ends, with values of any type, as given.
// - The keys above these (HKEY_CURRENT_USER\Software, ...) exist without values.
// Every other key is absent: opening it gives ERROR_FILE_NOT_FOUND, creating it (other than
// volatile) ERROR_ACCESS_DENIED. Values of the file-backed and machine keys are reported
// without a terminating zero in their size; a zero is added after the data when the buffer
// has room. Text is in the process code page, which is UTF-8 here.
#include "platform/base/Win32Types.h"

#include <QStringList>

#include <cstdint>

namespace postlark::win {

using HKEY = std::intptr_t;
using LONG = std::int32_t;
using REGSAM = DWORD;
using BYTE = std::uint8_t;

constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
constexpr HKEY HKEY_USERS = 0x80000003;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_EXECUTE = 0x20019;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_MORE_DATA = 234;

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD Reserved, const char* lpClass,
                     DWORD dwOptions, REGSAM samDesired, const void* lpSecurityAttributes,
                     HKEY* phkResult, DWORD* lpdwDisposition);
LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY* phkResult);
LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD Reserved, DWORD dwType,
                    const BYTE* lpData, DWORD cbData);
// With lpData null only the type and size are reported. A buffer smaller than the data gives
// ERROR_MORE_DATA with the needed size in *lpcbData.
LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData);
LONG RegDeleteValueA(HKEY hKey, const char* lpValueName);
LONG RegCloseKey(HKEY hKey);

// The system-information programs looked for on PATH, in order of preference.
QStringList SystemInfoPrograms();
// The folder of the autostart entries.
QString AutostartFolder();

} // namespace postlark::win
