// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The shell's per-user folders. CSIDL_APPDATA, the folder of the user's program settings, is
// the XDG config home: $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config, else
// the home folder of the user's password entry followed by /.config. The folder need not
// exist yet; the caller creates what it needs.
#include "platform/base/Win32Types.h"

#include <string>

namespace postlark::win {

constexpr int CSIDL_APPDATA = 0x001A;
constexpr DWORD SHGFP_TYPE_CURRENT = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);

// S_OK; E_FAIL when the user has no home folder at all; E_INVALIDARG for another folder.
// The path comes back in a string, not a MAX_PATH buffer: paths here may be longer, never cut.
HRESULT SHGetFolderPathA(HWND hwnd, int csidl, HANDLE hToken, DWORD dwFlags, std::string& path);

} // namespace postlark::win
