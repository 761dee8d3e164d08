// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Screen measures in twips (1/1440 inch), as the window positions are stored.
namespace postlark::win {

int TwipsPerPixelX();
int TwipsPerPixelY();
// Size of the primary screen in twips.
double ScreenWidthTwips();
double ScreenHeightTwips();

} // namespace postlark::win
