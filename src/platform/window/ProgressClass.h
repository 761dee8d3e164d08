// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "msctls_progress32" window class: a QProgressBar drawn the way the common control draws
// itself (blocks or a smooth bar, horizontal or vertical, its own colours and edges) and driven
// by the PBM_ messages through its class procedure.
#include "platform/base/Win32Types.h"
#include "platform/window/WindowTable.h"

#include <QColor>
#include <QProgressBar>

namespace postlark::win {

constexpr const char* PROGRESS_CLASSA = "msctls_progress32";

constexpr DWORD PBS_SMOOTH = 0x01;
constexpr DWORD PBS_VERTICAL = 0x04;

constexpr UINT PBM_SETRANGE = WM_USER + 1;
constexpr UINT PBM_SETPOS = WM_USER + 2;
constexpr UINT PBM_DELTAPOS = WM_USER + 3;
constexpr UINT PBM_SETSTEP = WM_USER + 4;
constexpr UINT PBM_STEPIT = WM_USER + 5;
constexpr UINT PBM_SETRANGE32 = WM_USER + 6;
constexpr UINT PBM_GETRANGE = WM_USER + 7;
constexpr UINT PBM_GETPOS = WM_USER + 8;
constexpr UINT PBM_SETBARCOLOR = WM_USER + 9;
constexpr UINT CCM_SETBKCOLOR = 0x2001;
constexpr UINT PBM_SETBKCOLOR = CCM_SETBKCOLOR;

// The system's default colour for a control colour message.
constexpr COLORREF CLR_DEFAULT = 0xFF000000;

struct PBRANGE {
    std::int32_t iLow;
    std::int32_t iHigh;
};

class ProgressWindow : public QProgressBar, public detail::EdgeDrawing {
public:
    ProgressWindow(QWidget* parent, DWORD style);

    bool smooth() const { return smooth_; }
    std::int32_t low() const { return low_; }
    std::int32_t high() const { return high_; }
    std::int32_t position() const { return pos_; }
    std::int32_t step() const { return step_; }
    // CLR_DEFAULT while the palette's colour is used.
    COLORREF barColor() const { return barColor_; }
    COLORREF backColor() const { return backColor_; }
    // 0 none, 1 thin (WS_EX_STATICEDGE), 2 sunken (WS_EX_CLIENTEDGE).
    int edge() const { return edge_; }

    LRESULT handle(UINT msg, WPARAM wParam, LPARAM lParam);
    void applyExStyle(LONG_PTR exStyle) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    LRESULT setRange(std::int32_t low, std::int32_t high);
    LRESULT setPos(std::int64_t pos);
    QColor colour(COLORREF c, QPalette::ColorRole fallback) const;

    bool smooth_;
    std::int32_t low_ = 0, high_ = 100, pos_ = 0, step_ = 10;
    COLORREF barColor_ = CLR_DEFAULT, backColor_ = CLR_DEFAULT;
    int edge_ = 0;
};

// The class procedure; messages it does not know go to DefWindowProcA.
LRESULT ProgressClassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Makes the class known to CreateWindowExA (InitCommonControls does this).
void RegisterProgressClass();

} // namespace postlark::win
