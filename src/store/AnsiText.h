// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one conversion between stored single-byte ("ANSI", Windows-1252) text and QString.
// The five bytes that Windows-1252 leaves unassigned map to the C1 controls of the same
// value, so every byte 0-255 round-trips.
#include <QString>
#include <string>
#include <string_view>

namespace postlark {

QString AnsiToQString(std::string_view bytes);

// Whether every character of the text has a single-byte form.
bool FitsAnsi(const QString& text);

// Characters without a single-byte form become '?'.
std::string QStringToAnsi(const QString& text);

} // namespace postlark
