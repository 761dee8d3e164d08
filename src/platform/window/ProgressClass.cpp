// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/ProgressClass.h"

#include "platform/window/WindowCreate.h"
#include "platform/window/WindowLayer.h"

#include <QPainter>
#include <algorithm>
#include <qdrawutil.h>

namespace postlark::win {

namespace {

LRESULT packedRange(std::int32_t low, std::int32_t high) {
    return MAKELPARAM(static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high));
}

// A colour reference with its top byte set (CLR_DEFAULT, or -1 from a failed translation)
// leaves the palette's colour.
bool isDefault(COLORREF c) {
    return (c & 0xFF000000) != 0;
}

} // namespace

ProgressWindow::ProgressWindow(QWidget* parent, DWORD style)
    : QProgressBar(parent), smooth_(style & PBS_SMOOTH) {
    setOrientation((style & PBS_VERTICAL) ? Qt::Vertical : Qt::Horizontal);
    setTextVisible(false);
    QProgressBar::setRange(low_, high_);
    QProgressBar::setValue(pos_);
}

LRESULT ProgressWindow::handle(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case PBM_SETRANGE:
        return setRange(static_cast<std::int32_t>(LOWORD(static_cast<std::uintptr_t>(lParam))),
                        static_cast<std::int32_t>(HIWORD(static_cast<std::uintptr_t>(lParam))));
    case PBM_SETRANGE32:
        return setRange(static_cast<std::int32_t>(wParam), static_cast<std::int32_t>(lParam));
    case PBM_GETRANGE:
        if (lParam) {
            auto* range = reinterpret_cast<PBRANGE*>(lParam);
            range->iLow = low_;
            range->iHigh = high_;
        }
        return wParam ? low_ : high_;
    case PBM_SETPOS:
        return setPos(static_cast<std::int32_t>(wParam));
    case PBM_DELTAPOS:
        return setPos(std::int64_t{pos_} + static_cast<std::int32_t>(wParam));
    case PBM_GETPOS:
        return pos_;
    case PBM_SETSTEP: {
        const std::int32_t old = step_;
        step_ = static_cast<std::int32_t>(wParam);
        return old;
    }
    case PBM_STEPIT: {
        // Past the end the bar starts over from the beginning.
        std::int64_t next = std::int64_t{pos_} + step_;
        const std::int64_t span = std::int64_t{high_} - low_;
        // Whole spans at once, so a step far larger than the range costs no time.
        if (span > 0) {
            if (next > high_)
                next -= (next - high_ + span - 1) / span * span;
            else if (next < low_)
                next += (low_ - next + span - 1) / span * span;
        }
        return setPos(next);
    }
    case PBM_SETBARCOLOR: {
        const COLORREF old = barColor_;
        barColor_ = static_cast<COLORREF>(lParam);
        update();
        return old;
    }
    case CCM_SETBKCOLOR: {
        const COLORREF old = backColor_;
        backColor_ = static_cast<COLORREF>(lParam);
        update();
        return old;
    }
    default:
        return -1; // not a progress-bar message
    }
}

LRESULT ProgressWindow::setRange(std::int32_t low, std::int32_t high) {
    const LRESULT old = packedRange(low_, high_);
    low_ = low;
    high_ = high;
    QProgressBar::setRange(low_, std::max(low_, high_));
    setPos(pos_);
    return old;
}

LRESULT ProgressWindow::setPos(std::int64_t pos) {
    const std::int32_t old = pos_;
    const std::int64_t lo = std::min(low_, high_);
    const std::int64_t hi = std::max(low_, high_);
    pos_ = static_cast<std::int32_t>(std::clamp(pos, lo, hi));
    // A visible bar takes the value into QProgressBar when it is painted (see paintEvent).
    if (!isVisible())
        QProgressBar::setValue(pos_);
    update();
    return old;
}

void ProgressWindow::applyExStyle(LONG_PTR exStyle) {
    edge_ = (exStyle & WS_EX_CLIENTEDGE) ? 2 : (exStyle & WS_EX_STATICEDGE) ? 1 : 0;
    setContentsMargins(edge_, edge_, edge_, edge_);
    update();
}

QColor ProgressWindow::colour(COLORREF c, QPalette::ColorRole fallback) const {
    if (isDefault(c))
        return palette().color(fallback);
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

void ProgressWindow::paintEvent(QPaintEvent*) {
    // The painting below uses pos_; QProgressBar's value is what accessibility tools read. It is
    // brought up to date here, once per painting rather than once per step (setting it works
    // out the percentage text and compares geometry), without asking for another painting.
    if (value() != pos_) {
        const bool wasDisabled = testAttribute(Qt::WA_UpdatesDisabled);
        setAttribute(Qt::WA_UpdatesDisabled, true);
        QProgressBar::setValue(pos_);
        setAttribute(Qt::WA_UpdatesDisabled, wasDisabled);
    }
    QPainter p(this);
    if (edge_ == 2)
        qDrawWinPanel(&p, rect(), palette(), true);
    else if (edge_ == 1)
        qDrawShadePanel(&p, rect(), palette(), true, 1);
    const QRect r = contentsRect();
    p.fillRect(r, colour(backColor_, QPalette::Button));
    const std::int64_t span = std::int64_t{high_} - low_;
    if (span <= 0 || r.isEmpty())
        return;
    const bool vertical = orientation() == Qt::Vertical;
    const int length = vertical ? r.height() : r.width();
    const int thickness = vertical ? r.width() : r.height();
    const int filled = static_cast<int>(length * (std::int64_t{pos_} - low_) / span);
    const QColor bar = colour(barColor_, QPalette::Highlight);
    // A stretch [from, to) of the bar, counted from its start (left, or bottom when vertical).
    auto fill = [&](int from, int to) {
        to = std::min(to, length);
        if (vertical)
            p.fillRect(QRect(r.left(), r.bottom() + 1 - to, r.width(), to - from), bar);
        else
            p.fillRect(QRect(r.left() + from, r.top(), to - from, r.height()), bar);
    };
    if (smooth_) {
        if (filled > 0)
            fill(0, filled);
        return;
    }
    const int block = std::max(1, thickness * 2 / 3);
    const int gap = 2;
    for (int at = 0; at < filled; at += block + gap)
        fill(at, at + block);
}

LRESULT ProgressClassProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* bar = dynamic_cast<ProgressWindow*>(WidgetFromHandle(hWnd));
    const bool own = (msg >= PBM_SETRANGE && msg <= PBM_SETBARCOLOR) || msg == CCM_SETBKCOLOR;
    if (bar && own)
        return bar->handle(msg, wParam, lParam);
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

void RegisterProgressClass() {
    RegisterWindowClass(
        PROGRESS_CLASSA,
        [](QWidget* parent, DWORD style) { return new ProgressWindow(parent, style); },
        &ProgressClassProc);
}

} // namespace postlark::win
