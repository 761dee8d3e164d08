// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The number of waiting messages drawn over a tray icon's picture: white digits on a red badge
// in the bottom right corner, "99+" above 99. The digits are drawn pixel by pixel from small
// bitmap glyphs at the largest whole scale that fits, so they stay sharp and legible at the
// tray's small sizes (16, 22, 24 pixels).
#include <QIcon>
#include <QImage>
#include <QRect>
#include <QString>

namespace postlark {

// The badge's text for a count of at least 1: the number, or "99+" above 99.
QString TrayBadgeText(int count);

// Where the badge stands on a square picture of `size` pixels showing `text`.
QRect TrayBadgeRect(int size, const QString& text);

// One picture of `size` pixels with the badge for `count` drawn over it.
QImage DrawTrayBadge(const QImage& picture, int size, int count);

// The icon with the badge for `count` drawn over it at each size a tray asks for.
QIcon DrawTrayBadge(const QIcon& icon, int count);

} // namespace postlark
