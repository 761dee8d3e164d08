// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Decoded header text made fit for a notification: no control characters (a tab or line break
// becomes a space, runs of spaces become one), no bidirectional overrides or isolates that could
// reorder the text around it, and cut to a length.
#include <QString>

namespace postlark {

constexpr qsizetype kMaxSenderLength = 100;
constexpr qsizetype kMaxSubjectLength = 200;

// At most `maxLength` UTF-16 units, a cut text ending in "…" and never inside a surrogate pair.
QString DisplayText(const QString& decoded, qsizetype maxLength);

} // namespace postlark
