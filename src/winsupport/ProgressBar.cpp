// SPDX-License-Identifier: GPL-3.0-or-later
#include "winsupport/ProgressBar.h"

#include "platform/base/RuntimeError.h"
#include "platform/window/CommonControls.h"
#include "platform/window/ProgressClass.h"
#include "platform/window/Screen.h"
#include "platform/window/WindowCalls.h"
#include "platform/window/WindowCreate.h"
#include "platform/window/WindowLayer.h"

#include <QApplication>
#include <QEvent>
#include <algorithm>
#include <limits>

namespace postlark {

using namespace win;

namespace {

constexpr std::int32_t DefaultBorderStyle = 1;
constexpr std::int32_t DefaultForeColor = static_cast<std::int32_t>(0x8000000D);
constexpr std::int32_t DefaultBackColor = static_cast<std::int32_t>(0x8000000F);
constexpr UINT SWP_FRAMEONLY = SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE; // 0x23

WPARAM asWParam(std::int32_t v) {
    return static_cast<WPARAM>(static_cast<std::intptr_t>(v));
}

} // namespace

ProgressBar::ProgressBar(QWidget* parent) : QFrame(parent) {}

ProgressBar::~ProgressBar() {
    DestroyProgressWindow();
}

LRESULT ProgressBar::Send(UINT msg, WPARAM wParam, LPARAM lParam) const {
    return SendMessageA(hWnd_, msg, wParam, lParam);
}

void ProgressBar::SetOrientation(std::int32_t eOrientation) {
    if (eOrientation == orientation_)
        return;
    orientation_ = eOrientation;
    if (hWnd_)
        RecreateProgressWindow();
    emit PropertyChanged(QStringLiteral("Orientation"));
}

void ProgressBar::SetSmooth(bool bSmooth) {
    if (bSmooth == smooth_)
        return;
    smooth_ = bSmooth;
    if (hWnd_)
        RecreateProgressWindow();
    emit PropertyChanged(QStringLiteral("Smooth"));
}

void ProgressBar::SetMin(std::int32_t lMin) {
    if (lMin == min_)
        return;
    min_ = lMin;
    if (hWnd_)
        ApplyRange();
    emit PropertyChanged(QStringLiteral("Min"));
}

void ProgressBar::SetMax(std::int32_t lMax) {
    if (lMax == max_)
        return;
    max_ = lMax;
    if (hWnd_)
        ApplyRange();
    emit PropertyChanged(QStringLiteral("Max"));
}

void ProgressBar::SetPosition(std::int32_t lPos) {
    if (lPos == position_)
        return;
    position_ = lPos;
    if (hWnd_)
        Send(PBM_SETPOS, asWParam(lPos), 0);
    emit PropertyChanged(QStringLiteral("Position"));
}

void ProgressBar::SetStep(std::int32_t lStep) {
    if (lStep == step_)
        return;
    step_ = lStep;
    if (hWnd_)
        Send(PBM_SETSTEP, asWParam(lStep), 0);
    emit PropertyChanged(QStringLiteral("Step"));
}

void ProgressBar::SetBackColor(std::int32_t oNewBackColor) {
    if (oNewBackColor == backColor_)
        return;
    backColor_ = oNewBackColor;
    if (hWnd_)
        Send(CCM_SETBKCOLOR, 0, TranslateColour(oNewBackColor));
    emit PropertyChanged(QStringLiteral("BackColor"));
}

void ProgressBar::SetForeColor(std::int32_t oNewForeColor) {
    if (oNewForeColor == foreColor_)
        return;
    foreColor_ = oNewForeColor;
    if (hWnd_)
        Send(PBM_SETBARCOLOR, 0, TranslateColour(oNewForeColor));
    emit PropertyChanged(QStringLiteral("ForeColor"));
}

void ProgressBar::SetBorderStyle(std::int32_t eBorderStyle) {
    if (eBorderStyle == borderStyle_)
        return;
    borderStyle_ = eBorderStyle;
    ApplyBorderStyle(eBorderStyle);
    emit PropertyChanged(QStringLiteral("BorderStyle"));
}

void ProgressBar::StepIt() {
    if (hWnd_) {
        // The child advances (and wraps) by its own step; Position follows what it shows, so a
        // later assignment of the old value is a change that moves the bar back.
        Send(PBM_STEPIT, 0, 0);
        position_ = static_cast<std::int32_t>(Send(PBM_GETPOS, 0, 0));
        return;
    }
    const std::int64_t next = std::int64_t{position_} + step_;
    if (next > std::numeric_limits<std::int32_t>::max() ||
        next < std::numeric_limits<std::int32_t>::min())
        throw RuntimeError(6, "Overflow");
    position_ = static_cast<std::int32_t>(next);
}

// 2: sunken edge on the control and none on the bar; 1: thin edge on the bar only; other
// values: no edge.
void ProgressBar::ApplyBorderStyle(std::int32_t style) {
    const HWND own = RegisterWindow(this);
    LONG_PTR controlStyle = GetWindowLongA(own, GWL_EXSTYLE);
    LONG_PTR childStyle = hWnd_ ? GetWindowLongA(hWnd_, GWL_EXSTYLE) : 0;
    if (style == 2) {
        controlStyle |= WS_EX_CLIENTEDGE;
        childStyle &= ~static_cast<LONG_PTR>(WS_EX_STATICEDGE);
    } else {
        controlStyle &= ~static_cast<LONG_PTR>(WS_EX_CLIENTEDGE);
        if (style == 1)
            childStyle |= WS_EX_STATICEDGE;
        else
            childStyle &= ~static_cast<LONG_PTR>(WS_EX_STATICEDGE);
    }
    if (hWnd_) {
        SetWindowLongA(hWnd_, GWL_EXSTYLE, childStyle);
        SetWindowPos(hWnd_, HWND_TOP, 0, 0, 0, 0, SWP_FRAMEONLY);
    }
    SetWindowLongA(own, GWL_EXSTYLE, controlStyle);
    SetWindowPos(own, HWND_TOP, 0, 0, 0, 0, SWP_FRAMEONLY);
}

void ProgressBar::CreateProgressWindow() {
    DestroyProgressWindow();
    InitCommonControls();
    DWORD style = WS_CHILD | WS_VISIBLE;
    if (orientation_ == 1)
        style |= PBS_VERTICAL;
    if (smooth_)
        style |= PBS_SMOOTH;
    const QSize size = ChildPixelSize();
    hWnd_ = CreateWindowExA(0, PROGRESS_CLASSA, "", style, 0, 0, size.width(), size.height(),
                            RegisterWindow(this), 0, 0, nullptr);
    if (hWnd_) {
        // The child starts with the control's whole state, so StepIt advances by Step and the
        // position is shown against the control's range.
        ApplyRange();
        Send(PBM_SETPOS, asWParam(position_), 0);
        Send(PBM_SETSTEP, asWParam(step_), 0);
    }
}

void ProgressBar::DestroyProgressWindow() {
    if (!hWnd_ || !IsWindow(hWnd_))
        return;
    ShowWindow(hWnd_, SW_HIDE);
    SetParent(hWnd_, 0);
    DestroyWindow(hWnd_);
}

void ProgressBar::RecreateProgressWindow() {
    const std::int32_t border = borderStyle_;
    const std::int32_t position = position_;
    const std::int32_t back = backColor_;
    const std::int32_t fore = foreColor_;
    CreateProgressWindow();
    ApplyRange();
    position_ = -1;
    SetPosition(position);
    borderStyle_ = -1;
    SetBorderStyle(border);
    backColor_ = -1;
    SetBackColor(back);
    foreColor_ = -1;
    SetForeColor(fore);
}

// Sets the 32-bit range and checks that the child took it; a control limited to 16-bit
// ranges gets the low halves instead.
void ProgressBar::ApplyRange() {
    if (!hWnd_)
        return;
    Send(PBM_SETRANGE32, asWParam(min_), max_);
    const LRESULT upper = Send(PBM_GETRANGE, 0, 0);
    const LRESULT lower = Send(PBM_GETRANGE, 1, 0);
    if (upper == max_ && lower == min_)
        return;
    Send(PBM_SETRANGE, 0,
         MAKELPARAM(static_cast<std::uint32_t>(min_), static_cast<std::uint32_t>(max_)));
}

std::int32_t ProgressBar::TranslateColour(std::int32_t oleColour) const {
    COLORREF colour = 0;
    if (OleTranslateColor(static_cast<OLE_COLOR>(oleColour), 0, &colour) != S_OK)
        return -1;
    return static_cast<std::int32_t>(colour);
}

// The control's inner size in twips, converted back with the screen's whole twips per pixel.
// Twips are counted with that same whole number everywhere in the program, so the child fills
// the control exactly at any screen resolution.
QSize ProgressBar::ChildPixelSize() const {
    const long tppX = std::max(1, TwipsPerPixelX());
    const long tppY = std::max(1, TwipsPerPixelY());
    const QRect inner = contentsRect();
    const long widthTwips = long{inner.width()} * tppX;
    const long heightTwips = long{inner.height()} * tppY;
    return QSize(static_cast<int>(widthTwips / tppX), static_cast<int>(heightTwips / tppY));
}

void ProgressBar::Resize() {
    if (!hWnd_ || !IsWindow(hWnd_))
        return;
    const QSize size = ChildPixelSize();
    MoveWindow(hWnd_, 0, 0, size.width(), size.height(), TRUE_);
}

void ProgressBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    Resize();
}

// A changed edge changes the client area, which the control answers like a resize.
bool ProgressBar::event(QEvent* event) {
    const bool handled = QFrame::event(event);
    if (event->type() == QEvent::ContentsRectChange)
        Resize();
    return handled;
}

// The container's background: the system button face unless the form has its own colour.
std::int32_t ProgressBar::AmbientBackColor() const {
    const QWidget* container = parentWidget();
    if (!container)
        return DefaultBackColor;
    const QColor own = container->palette().color(QPalette::Window);
    if (own == QApplication::palette().color(QPalette::Window))
        return DefaultBackColor;
    return static_cast<std::int32_t>(own.red() | (own.green() << 8) | (own.blue() << 16));
}

void ProgressBar::InitProperties() {
    smooth_ = false;
    orientation_ = 0;
    CreateProgressWindow();
    SetBorderStyle(1);
    backColor_ = AmbientBackColor();
}

void ProgressBar::ReadProperties(const PropertyBag& bag) {
    smooth_ = bag.ReadProperty(QStringLiteral("Smooth"), false).toBool();
    orientation_ = bag.ReadProperty(QStringLiteral("Orientation"), 0).toInt();
    CreateProgressWindow();
    borderStyle_ = -1;
    SetBorderStyle(bag.ReadProperty(QStringLiteral("BorderStyle"), DefaultBorderStyle).toInt());
    SetForeColor(bag.ReadProperty(QStringLiteral("ForeColor"), DefaultForeColor).toInt());
    SetBackColor(bag.ReadProperty(QStringLiteral("BackColor"), DefaultBackColor).toInt());
    SetMin(bag.ReadProperty(QStringLiteral("Min"), 0).toInt());
    SetMax(bag.ReadProperty(QStringLiteral("Max"), 100).toInt());
    SetStep(bag.ReadProperty(QStringLiteral("Step"), 1).toInt());
}

void ProgressBar::WriteProperties(PropertyBag& bag) const {
    bag.WriteProperty(QStringLiteral("BorderStyle"), borderStyle_, DefaultBorderStyle);
    bag.WriteProperty(QStringLiteral("Smooth"), smooth_, false);
    bag.WriteProperty(QStringLiteral("Orientation"), orientation_, 0);
    bag.WriteProperty(QStringLiteral("ForeColor"), foreColor_, DefaultForeColor);
    bag.WriteProperty(QStringLiteral("BackColor"), backColor_, DefaultBackColor);
    bag.WriteProperty(QStringLiteral("Min"), min_, 0);
    bag.WriteProperty(QStringLiteral("Max"), max_, 100);
    bag.WriteProperty(QStringLiteral("Step"), step_, 1);
}

} // namespace postlark
