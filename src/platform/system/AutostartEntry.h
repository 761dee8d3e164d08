// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One XDG autostart entry (a Desktop Entry file): reading its command and writing a whole entry.
#include <QByteArray>
#include <QString>

#include <optional>

namespace postlark::win {

// The entry's Exec value with the file's string escapes removed (UTF-8 bytes). Empty when the
// entry has no Exec key; nothing when the file is missing, unreadable, has no [Desktop Entry]
// group, or the entry is switched off (Hidden=true, X-GNOME-Autostart-enabled=false).
std::optional<QByteArray> ReadAutostartCommand(const QString& path);

// Replaces the file atomically with an application entry named `name` that runs `command`
// (UTF-8; it is escaped for the file here). Creates the folder when needed. False when the
// command is not UTF-8 text or the file cannot be written.
bool WriteAutostartEntry(const QString& path, const QString& name, const QByteArray& command);

// The Desktop Entry string escapes: \\ for a backslash, \n \t \r for those controls, \s for a
// leading space (which the file's syntax would otherwise drop).
QByteArray EscapeEntryString(const QByteArray& text);
// The reverse; an unknown escape is kept as it stands, as lenient readers do.
QByteArray UnescapeEntryString(const QByteArray& text);

} // namespace postlark::win
