// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/CommonControls.h"

#include "platform/window/ProgressClass.h"
#include "platform/window/WindowCreate.h"

#include <QGuiApplication>
#include <QPalette>
#include <array>

namespace postlark::win {

namespace {

struct SystemColour {
    QPalette::ColorGroup group;
    QPalette::ColorRole role;
};

// The system colour indices (COLOR_SCROLLBAR = 0 ... COLOR_MENUBAR = 30) in palette terms.
constexpr std::array<SystemColour, 31> systemColours{{
    {QPalette::Active, QPalette::Button},          // scroll bar
    {QPalette::Active, QPalette::Dark},            // desktop
    {QPalette::Active, QPalette::Highlight},       // active caption
    {QPalette::Inactive, QPalette::Mid},           // inactive caption
    {QPalette::Active, QPalette::Window},          // menu
    {QPalette::Active, QPalette::Base},            // window
    {QPalette::Active, QPalette::Shadow},          // window frame
    {QPalette::Active, QPalette::WindowText},      // menu text
    {QPalette::Active, QPalette::Text},            // window text
    {QPalette::Active, QPalette::HighlightedText}, // caption text
    {QPalette::Active, QPalette::Window},          // active border
    {QPalette::Inactive, QPalette::Window},        // inactive border
    {QPalette::Active, QPalette::Mid},             // application workspace
    {QPalette::Active, QPalette::Highlight},       // highlight
    {QPalette::Active, QPalette::HighlightedText}, // highlight text
    {QPalette::Active, QPalette::Button},          // button face
    {QPalette::Active, QPalette::Dark},            // button shadow
    {QPalette::Disabled, QPalette::Text},          // grey text
    {QPalette::Active, QPalette::ButtonText},      // button text
    {QPalette::Disabled, QPalette::WindowText},    // inactive caption text
    {QPalette::Active, QPalette::Light},           // button highlight
    {QPalette::Active, QPalette::Shadow},          // 3-D dark shadow
    {QPalette::Active, QPalette::Midlight},        // 3-D light
    {QPalette::Active, QPalette::ToolTipText},     // tool-tip text
    {QPalette::Active, QPalette::ToolTipBase},     // tool-tip background
    {QPalette::Active, QPalette::Button},          // (unused index 25)
    {QPalette::Active, QPalette::Link},            // hot-tracked item
    {QPalette::Active, QPalette::Highlight},       // active caption gradient
    {QPalette::Inactive, QPalette::Mid},           // inactive caption gradient
    {QPalette::Active, QPalette::Highlight},       // menu highlight
    {QPalette::Active, QPalette::Window},          // menu bar
}};

COLORREF toColorRef(const QColor& c) {
    return static_cast<COLORREF>(c.red()) | (static_cast<COLORREF>(c.green()) << 8) |
           (static_cast<COLORREF>(c.blue()) << 16);
}

} // namespace

void InitCommonControls() {
    if (!IsWindowClassRegistered(PROGRESS_CLASSA))
        RegisterProgressClass();
}

HRESULT OleTranslateColor(OLE_COLOR clr, HPALETTE /*hpal*/, COLORREF* lpcolorref) {
    COLORREF result = 0;
    switch (clr >> 24) {
    case 0x00: // RGB
    case 0x02: // palette-relative RGB
        result = clr & 0x00FFFFFF;
        break;
    case 0x80: {
        const OLE_COLOR index = clr & 0x00FFFFFF;
        if (index >= systemColours.size())
            return E_INVALIDARG;
        const SystemColour& sc = systemColours[index];
        result = toColorRef(QGuiApplication::palette().color(sc.group, sc.role));
        break;
    }
    default:
        return E_INVALIDARG;
    }
    if (lpcolorref)
        *lpcolorref = result;
    return S_OK;
}

} // namespace postlark::win
