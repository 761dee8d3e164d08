// SPDX-License-Identifier: GPL-3.0-or-later
// The About box's System Info button: finds the system-information tool through the two
// machine-wide registry keys that name it, and starts it.
#include "dialogs/AboutForm.h"

#include "dialogs/AppVersion.h"
#include "platform/system/RegistryApi.h"
#include "platform/window/MsgBox.h"

#include <QFileInfo>
#include <QProcess>
#include <array>
#include <exception>

namespace postlark {

namespace {

const char* const SysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char* const SysInfoValue = "PATH";
const char* const SysInfoLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
const char* const SysInfoLocationValue = "MSINFO";
const char* const SysInfoUnavailable = "System Information Is Unavailable At This Time";

// Standard read rights and every key-specific right.
constexpr win::REGSAM KeyAccess = 0x2003F;
constexpr win::DWORD ValueBufferSize = 1024;

// Starts the program without waiting for it; false when it could not be started.
bool StartProgram(const std::string& path) {
    return QProcess::startDetached(QString::fromLocal8Bit(path.c_str()), {});
}

} // namespace

void AboutForm::StartSysInfo() {
    try {
        std::string SysInfoPath;
        if (!GetKeyValue(win::HKEY_LOCAL_MACHINE, SysInfoKey, SysInfoValue, SysInfoPath)) {
            if (!GetKeyValue(win::HKEY_LOCAL_MACHINE, SysInfoLocationKey, SysInfoLocationValue,
                             SysInfoPath)) {
                MsgBox(SysInfoUnavailable, vbOKOnly, AppTitle());
                return;
            }
            const std::string program = SysInfoPath + "\\MSINFO32.EXE";
            if (!QFileInfo::exists(QString::fromLocal8Bit(program.c_str()))) {
                MsgBox(SysInfoUnavailable, vbOKOnly, AppTitle());
                return;
            }
            SysInfoPath = program;
        }
        if (!StartProgram(SysInfoPath))
            MsgBox(SysInfoUnavailable, vbOKOnly, AppTitle());
    } catch (const std::exception&) {
        MsgBox(SysInfoUnavailable, vbOKOnly, AppTitle());
    }
}

bool AboutForm::GetKeyValue(win::HKEY KeyRoot, const std::string& KeyName,
                            const std::string& SubKeyRef, std::string& KeyVal) {
    win::HKEY hKey = 0;
    if (win::RegOpenKeyExA(KeyRoot, KeyName.c_str(), 0, KeyAccess, &hKey) != win::ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }
    std::array<char, ValueBufferSize> buffer{};
    win::DWORD size = ValueBufferSize;
    win::DWORD type = 0;
    const win::LONG rc = win::RegQueryValueExA(hKey, SubKeyRef.c_str(), nullptr, &type,
                                               reinterpret_cast<win::BYTE*>(buffer.data()), &size);
    win::RegCloseKey(hKey);
    if (rc != win::ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }
    std::string value(buffer.data(), std::min(size, ValueBufferSize));
    switch (type) {
    case win::REG_SZ:
        if (!value.empty() && value.back() == '\0')
            value.pop_back();
        KeyVal = value;
        break;
    case win::REG_DWORD: {
        // The number's four bytes, least significant first, as "&h" and hexadecimal digits.
        std::uint32_t number = 0;
        for (std::size_t i = value.size(); i-- > 0;)
            number = (number << 8) | static_cast<unsigned char>(value[i]);
        KeyVal = "&h" + QString::number(number, 16).toUpper().toStdString();
        break;
    }
    default:
        break;
    }
    return true;
}

} // namespace postlark
