// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Commands in the Exec syntax of desktop entries, the form the autostart entry holds them in.
#include <QString>
#include <QStringList>

#include <optional>

namespace postlark {

// The argument as one Exec word: as it stands when it needs no quoting, otherwise in double
// quotes with " ` $ \ escaped by a backslash; "%" is doubled either way (it starts field codes).
QString QuoteExecArgument(const QString& argument);

// An Exec command that runs `program` with `arguments`, one that both the Desktop Entry rules
// and GLib's launcher accept for any program path. GLib refuses an entry whose program, read
// with its "%%" still doubled, does not exist; a program path holding "%" is therefore started
// through /bin/sh, which receives the path as an argument and runs it.
QString ExecCommand(const QString& program, const QStringList& arguments);

// The arguments of an Exec command with quoting undone, "%%" read as "%" and the other field
// codes dropped (an argument that is only a field code goes entirely). Nothing when a quote is
// left open.
std::optional<QStringList> SplitExecLine(const QString& command);

} // namespace postlark
