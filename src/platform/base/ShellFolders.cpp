// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/base/ShellFolders.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace postlark::win {

HRESULT SHGetFolderPathA(HWND, int csidl, HANDLE, DWORD, std::string& path) {
    if (csidl != CSIDL_APPDATA)
        return E_INVALIDARG;
    // Relative or empty XDG_CONFIG_HOME values are ignored, as the base-directory rules ask.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
        path = xdg;
        return S_OK;
    }
    if (const char* home = std::getenv("HOME"); home && home[0] != '\0') {
        path = std::string(home) + "/.config";
        return S_OK;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/') {
        path = std::string(found->pw_dir) + "/.config";
        return S_OK;
    }
    return E_FAIL;
}

} // namespace postlark::win
