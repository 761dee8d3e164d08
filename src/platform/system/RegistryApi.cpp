// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/RegistryApi.h"

#include "platform/system/AutostartEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstring>
#include <map>
#include <optional>

namespace postlark::win {

namespace {

constexpr char kRunKey[] = "software\\microsoft\\windows\\currentversion\\run";
constexpr char kMsInfoKey[] = "software\\microsoft\\shared tools\\msinfo";
constexpr char kMsInfoLocationKey[] = "software\\microsoft\\shared tools location";
constexpr char kRunValue[] = "Postlark";
constexpr LONG kInvalidParameter = 87;

// A key: its root and its path in lower case, parts joined by single backslashes.
struct KeyName {
    HKEY root = 0;
    QString path;
    bool operator<(const KeyName& o) const {
        return root != o.root ? root < o.root : path < o.path;
    }
};

struct OpenKey {
    KeyName name;
    REGSAM access = 0;
};

struct Value {
    DWORD type = REG_NONE;
    QByteArray data;
};

// Values of a volatile key by lower-case name.
using VolatileValues = std::map<QString, Value>;

std::map<HKEY, OpenKey>& Handles() {
    static std::map<HKEY, OpenKey> handles;
    return handles;
}

std::map<KeyName, VolatileValues>& VolatileKeys() {
    static std::map<KeyName, VolatileValues> keys;
    return keys;
}

QString NormalPath(const QString& path) {
    return path.split('\\', Qt::SkipEmptyParts).join('\\').toLower();
}

// The predefined root a handle stands for, also when it arrives sign-extended from 32 bits.
std::optional<HKEY> PredefinedRoot(HKEY h) {
    const auto low = static_cast<std::uint32_t>(h);
    const auto high = static_cast<std::uint64_t>(h) >> 32;
    if (low >= 0x80000000u && low <= 0x80000006u && (high == 0 || high == 0xFFFFFFFFu))
        return HKEY(low);
    return std::nullopt;
}

// The key named by a handle and a sub-key path; nothing for an unknown handle.
std::optional<KeyName> Resolve(HKEY h, const char* subKey) {
    const QString sub = subKey ? QString::fromUtf8(subKey) : QString();
    if (const auto root = PredefinedRoot(h))
        return KeyName{*root, NormalPath(sub)};
    const auto it = Handles().find(h);
    if (it == Handles().end())
        return std::nullopt;
    return KeyName{it->second.name.root, NormalPath(it->second.name.path + '\\' + sub)};
}

std::optional<QString> SystemInfoProgram() {
    for (const QString& name : SystemInfoPrograms())
        if (const QString path = QStandardPaths::findExecutable(name); !path.isEmpty())
            return path;
    return std::nullopt;
}

enum class Kind { Absent, Folder, Run, MsInfo, MsInfoLocation, Volatile };

bool IsAncestor(const QString& ancestor, const QString& path) {
    return ancestor.isEmpty() || path.startsWith(ancestor + '\\');
}

Kind Classify(const KeyName& key) {
    if (key.root == HKEY_CURRENT_USER && key.path == kRunKey)
        return Kind::Run;
    const bool hasInfo = key.root == HKEY_LOCAL_MACHINE && SystemInfoProgram().has_value();
    if (hasInfo && key.path == kMsInfoKey)
        return Kind::MsInfo;
    if (hasInfo && key.path == kMsInfoLocationKey)
        return Kind::MsInfoLocation;
    if (VolatileKeys().count(key))
        return Kind::Volatile;
    if (key.root == HKEY_CURRENT_USER && IsAncestor(key.path, kRunKey))
        return Kind::Folder;
    if (hasInfo && (IsAncestor(key.path, kMsInfoKey) || IsAncestor(key.path, kMsInfoLocationKey)))
        return Kind::Folder;
    for (const auto& [name, values] : VolatileKeys())
        if (name.root == key.root && IsAncestor(key.path, name.path))
            return Kind::Folder;
    // The roots themselves always exist.
    return key.path.isEmpty() ? Kind::Folder : Kind::Absent;
}

QString RunEntryPath() {
    return AutostartFolder() + "/" + kRunValue + ".desktop";
}

bool IsRunValue(const char* name) {
    return name && QString::fromUtf8(name).compare(kRunValue, Qt::CaseInsensitive) == 0;
}

// The value as the key holds it, or nothing when it is absent.
std::optional<Value> FindValue(const KeyName& key, const char* valueName) {
    const QString name = QString::fromUtf8(valueName ? valueName : "").toLower();
    switch (Classify(key)) {
    case Kind::Run:
        if (!IsRunValue(valueName))
            return std::nullopt;
        if (const auto command = ReadAutostartCommand(RunEntryPath()))
            return Value{REG_SZ, *command};
        return std::nullopt;
    case Kind::MsInfo:
        if (name != "path")
            return std::nullopt;
        return Value{REG_SZ, SystemInfoProgram().value_or(QString()).toUtf8()};
    case Kind::MsInfoLocation:
        if (name != "msinfo")
            return std::nullopt;
        return Value{REG_SZ,
                     QFileInfo(SystemInfoProgram().value_or(QString())).absolutePath().toUtf8()};
    case Kind::Volatile: {
        const VolatileValues& values = VolatileKeys()[key];
        if (const auto it = values.find(name); it != values.end())
            return it->second;
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

bool IsUtf8(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

HKEY NewHandle(const KeyName& key, REGSAM access) {
    static HKEY next = 0x1000;
    next += 4;
    Handles()[next] = OpenKey{key, access};
    return next;
}

// The open key of a handle with the access asked for, or the error to return.
LONG Access(HKEY h, REGSAM needed, KeyName& key) {
    if (const auto root = PredefinedRoot(h)) {
        key = KeyName{*root, QString()};
        return ERROR_SUCCESS;
    }
    const auto it = Handles().find(h);
    if (it == Handles().end())
        return ERROR_INVALID_HANDLE;
    key = it->second.name;
    return (it->second.access & needed) == needed ? LONG(ERROR_SUCCESS) : ERROR_ACCESS_DENIED;
}

} // namespace

QStringList SystemInfoPrograms() {
    // Hardware and system summaries first; a process monitor as the last resort.
    return {"hardinfo", "kinfocenter", "gnome-system-monitor"};
}

QString AutostartFolder() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + "/.config";
    return config + "/autostart";
}

LONG RegCreateKeyExA(HKEY hKey, const char* lpSubKey, DWORD /*Reserved*/, const char* /*lpClass*/,
                     DWORD dwOptions, REGSAM samDesired, const void* /*lpSecurityAttributes*/,
                     HKEY* phkResult, DWORD* lpdwDisposition) {
    if (!phkResult)
        return kInvalidParameter;
    const auto key = Resolve(hKey, lpSubKey);
    if (!key)
        return ERROR_INVALID_HANDLE;
    DWORD disposition = REG_OPENED_EXISTING_KEY;
    if (Classify(*key) == Kind::Absent) {
        // Only volatile keys of the current user can be made; they live in this process.
        if (!(dwOptions & REG_OPTION_VOLATILE) || key->root != HKEY_CURRENT_USER ||
            IsAncestor(kRunKey, key->path))
            return ERROR_ACCESS_DENIED;
        VolatileKeys()[*key];
        disposition = REG_CREATED_NEW_KEY;
    }
    *phkResult = NewHandle(*key, samDesired);
    if (lpdwDisposition)
        *lpdwDisposition = disposition;
    return ERROR_SUCCESS;
}

LONG RegOpenKeyExA(HKEY hKey, const char* lpSubKey, DWORD /*ulOptions*/, REGSAM samDesired,
                   HKEY* phkResult) {
    if (!phkResult)
        return kInvalidParameter;
    const auto key = Resolve(hKey, lpSubKey);
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (Classify(*key) == Kind::Absent)
        return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(*key, samDesired);
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY hKey, const char* lpValueName, DWORD /*Reserved*/, DWORD dwType,
                    const BYTE* lpData, DWORD cbData) {
    KeyName key;
    if (const LONG status = Access(hKey, KEY_SET_VALUE, key); status != ERROR_SUCCESS)
        return status;
    if (!lpData && cbData)
        return kInvalidParameter;
    const QByteArray data(reinterpret_cast<const char*>(lpData), lpData ? qsizetype(cbData) : 0);
    switch (Classify(key)) {
    case Kind::Run: {
        if (!IsRunValue(lpValueName))
            return ERROR_ACCESS_DENIED;
        if (dwType != REG_SZ)
            return kInvalidParameter;
        // Text ends at its first zero, as a REG_SZ reader sees it.
        const qsizetype end = data.indexOf('\0');
        const QByteArray command = end < 0 ? data : data.left(end);
        if (!IsUtf8(command))
            return kInvalidParameter; // an entry file holds UTF-8 text only
        return WriteAutostartEntry(RunEntryPath(), kRunValue, command) ? LONG(ERROR_SUCCESS)
                                                                       : ERROR_ACCESS_DENIED;
    }
    case Kind::Volatile:
        VolatileKeys()[key][QString::fromUtf8(lpValueName ? lpValueName : "").toLower()] =
            Value{dwType, data};
        return ERROR_SUCCESS;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

LONG RegQueryValueExA(HKEY hKey, const char* lpValueName, DWORD* lpReserved, DWORD* lpType,
                      BYTE* lpData, DWORD* lpcbData) {
    if (lpReserved || (lpData && !lpcbData))
        return kInvalidParameter;
    KeyName key;
    if (const LONG status = Access(hKey, KEY_QUERY_VALUE, key); status != ERROR_SUCCESS)
        return status;
    const auto value = FindValue(key, lpValueName);
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = value->type;
    const auto size = DWORD(value->data.size());
    if (lpData) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, value->data.constData(), size);
        const bool text = value->type == REG_SZ || value->type == REG_EXPAND_SZ;
        if (text && *lpcbData > size)
            lpData[size] = 0;
    }
    if (lpcbData)
        *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY hKey, const char* lpValueName) {
    KeyName key;
    if (const LONG status = Access(hKey, KEY_SET_VALUE, key); status != ERROR_SUCCESS)
        return status;
    switch (Classify(key)) {
    case Kind::Run:
        // An entry switched off by hand is the user's own file: it stays.
        if (!IsRunValue(lpValueName) || !ReadAutostartCommand(RunEntryPath()))
            return ERROR_FILE_NOT_FOUND;
        return QFile::remove(RunEntryPath()) ? LONG(ERROR_SUCCESS) : ERROR_ACCESS_DENIED;
    case Kind::Volatile:
        return VolatileKeys()[key].erase(
                   QString::fromUtf8(lpValueName ? lpValueName : "").toLower())
                   ? LONG(ERROR_SUCCESS)
                   : ERROR_FILE_NOT_FOUND;
    case Kind::MsInfo:
    case Kind::MsInfoLocation:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_FILE_NOT_FOUND;
    }
}

LONG RegCloseKey(HKEY hKey) {
    if (PredefinedRoot(hKey))
        return ERROR_SUCCESS;
    return Handles().erase(hKey) ? LONG(ERROR_SUCCESS) : ERROR_INVALID_HANDLE;
}

} // namespace postlark::win
