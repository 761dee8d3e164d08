// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// General routines over the registry calls, and the start-at-log-in registration that uses
// them: the value "Postlark" of the current user's Run key holds the command that starts the
// program hidden in the notification area.
#include "platform/system/RegistryApi.h"

#include <QString>
#include <QVariant>

#include <cstdint>

namespace postlark {

inline constexpr char RunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char RunValueName[] = "Postlark";
inline constexpr char RegistryStartSwitch[] = "/registrystart";

// Creates or opens the key with write access and sets the value as REG_SZ text (in the
// registry calls' code page, all of its bytes). 0 on success, otherwise the platform's error.
std::int32_t WriteRegString(win::HKEY root, const QString& keyPath, const QString& valueName,
                            const QString& text);

// The stored text (a QString, exactly the bytes stored, a terminating zero included when the
// data ends with one) or 32-bit number (a uint); the default when the key or value is missing
// or the value is of any other type.
QVariant ReadRegValue(win::HKEY root, const QString& keyPath, const QString& valueName,
                      const QVariant& defaultValue);

// The running program's absolute path, as the kernel reports it.
QString ProgramPath();

// The command the registration holds: the program's path, quoted as the Exec syntax requires,
// then " /registrystart" (through the shell for a path holding "%", see ExecCommand).
QString StartupCommand(const QString& programPath);

} // namespace postlark
