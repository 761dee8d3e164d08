// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Common-controls set-up and OLE colour translation.
#include "platform/base/Win32Types.h"

namespace postlark::win {

// Makes the common-control window classes ("msctls_progress32") available.
void InitCommonControls();

// An OLE colour to a colour reference: RGB values pass through, 0x80000000 | index gives the
// system colour of that index from the application's palette. Other values, and indices past
// the last system colour, give E_INVALIDARG. The palette argument is not used.
HRESULT OleTranslateColor(OLE_COLOR clr, HPALETTE hpal, COLORREF* lpcolorref);

} // namespace postlark::win
