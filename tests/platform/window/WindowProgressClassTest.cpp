// SPDX-License-Identifier: GPL-3.0-or-later
// CreateWindowExA with the "msctls_progress32" class, its messages and its drawing, and the
// colour translation the progress bar relies on.
#include "platform/window/CommonControls.h"
#include "platform/window/ProgressClass.h"
#include "platform/window/WindowCalls.h"
#include "platform/window/WindowCreate.h"
#include "platform/window/WindowLayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFrame>
#include <QImage>
#include <QPalette>
#include <gtest/gtest.h>
#include <limits>

using namespace postlark::win;

namespace {

constexpr COLORREF Red = 0x000000FF;
constexpr COLORREF Blue = 0x00FF0000;

class WindowProgressClassTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitCommonControls();
        parent.setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        parent.resize(220, 40);
        parentHandle = RegisterWindow(&parent);
    }
    HWND Create(DWORD style, int width = 200, int height = 20) {
        return CreateWindowExA(0, "msctls_progress32", "", WS_CHILD | WS_VISIBLE | style, 0, 0,
                               width, height, parentHandle, 0, 0, nullptr);
    }
    static ProgressWindow* Bar(HWND h) {
        return dynamic_cast<ProgressWindow*>(WidgetFromHandle(h));
    }

    QFrame parent;
    HWND parentHandle = 0;
};

QRgb Rgb(COLORREF c) {
    return qRgb(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

} // namespace

TEST_F(WindowProgressClassTest, CreationFailsWithTheReasonInTheLastError) {
    EXPECT_EQ(
        CreateWindowExA(0, "NoSuchClass", "", WS_CHILD, 0, 0, 1, 1, parentHandle, 0, 0, nullptr),
        0);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    EXPECT_EQ(CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 1, 1, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(GetLastError(), ERROR_TLW_WITH_WSCHILD);
    EXPECT_EQ(CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD, 0, 0, 1, 1, parentHandle + 1, 0, 0,
                              nullptr),
              0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowProgressClassTest, ChildIsPlacedInTheParentsClientAreaWithItsStyle) {
    const HWND h = Create(PBS_SMOOTH | PBS_VERTICAL, 30, 10);
    ASSERT_NE(h, 0);
    ProgressWindow* bar = Bar(h);
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->parentWidget(), &parent);
    EXPECT_EQ(bar->geometry(), QRect(2, 2, 30, 10)); // inside the 2-pixel sunken frame
    EXPECT_TRUE(bar->smooth());
    EXPECT_EQ(bar->orientation(), Qt::Vertical);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(GetWindowLongA(h, GWL_STYLE) & PBS_SMOOTH, static_cast<LONG_PTR>(PBS_SMOOTH));

    MoveWindow(h, 5, 6, 50, 12, TRUE_);
    EXPECT_EQ(bar->geometry(), QRect(7, 8, 50, 12));

    EXPECT_TRUE(DestroyWindow(h));
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(parent.findChild<ProgressWindow*>(), nullptr);
}

TEST_F(WindowProgressClassTest, RangePositionAndStepMessages) {
    const HWND h = Create(0);
    EXPECT_EQ(SendMessageA(h, PBM_GETRANGE, 1, 0), 0);
    EXPECT_EQ(SendMessageA(h, PBM_GETRANGE, 0, 0), 100);

    EXPECT_EQ(SendMessageA(h, PBM_SETRANGE32, 1, 100000), MAKELPARAM(0, 100));
    PBRANGE range{};
    EXPECT_EQ(SendMessageA(h, PBM_GETRANGE, 0, reinterpret_cast<LPARAM>(&range)), 100000);
    EXPECT_EQ(range.iLow, 1);
    EXPECT_EQ(range.iHigh, 100000);

    // The 16-bit message takes two unsigned halves and reports the old range in 16 bits.
    EXPECT_EQ(SendMessageA(h, PBM_SETRANGE, 0, MAKELPARAM(10, 60000)), MAKELPARAM(1, 100000));
    EXPECT_EQ(SendMessageA(h, PBM_GETRANGE, 0, 0), 60000);

    EXPECT_EQ(SendMessageA(h, PBM_SETPOS, 70000, 0), 10);
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 60000); // held to the range
    SendMessageA(h, PBM_SETRANGE32, 0, 100);
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 100);

    EXPECT_EQ(SendMessageA(h, PBM_SETSTEP, 30, 0), 10);
    SendMessageA(h, PBM_SETPOS, 50, 0);
    EXPECT_EQ(SendMessageA(h, PBM_STEPIT, 0, 0), 50);
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 80);
    SendMessageA(h, PBM_STEPIT, 0, 0); // past the end it starts over
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 10);
    EXPECT_EQ(Bar(h)->value(), 10);
}

TEST_F(WindowProgressClassTest, StepItWrapsAtOnceWhateverTheStep) {
    const HWND h = Create(0);
    QElapsedTimer clock;
    clock.start();
    SendMessageA(h, PBM_SETRANGE32, 0, 1);
    SendMessageA(h, PBM_SETSTEP, static_cast<WPARAM>(std::numeric_limits<std::int32_t>::max()), 0);
    SendMessageA(h, PBM_STEPIT, 0, 0);
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 1);
    SendMessageA(h, PBM_SETSTEP,
                 static_cast<WPARAM>(std::intptr_t{std::numeric_limits<std::int32_t>::min()}), 0);
    SendMessageA(h, PBM_STEPIT, 0, 0); // below the start it comes round from the end
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 0);
    EXPECT_LT(clock.elapsed(), 200);

    // Same results as stepping round one span at a time.
    SendMessageA(h, PBM_SETRANGE32, 10, 20);
    SendMessageA(h, PBM_SETPOS, 18, 0);
    SendMessageA(h, PBM_SETSTEP, 25, 0);
    SendMessageA(h, PBM_STEPIT, 0, 0); // 43 -> 33 -> 23 -> 13
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 13);
    SendMessageA(h, PBM_SETPOS, 20, 0);
    SendMessageA(h, PBM_SETSTEP, 10, 0);
    SendMessageA(h, PBM_STEPIT, 0, 0); // 30 -> 20
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 20);
    SendMessageA(h, PBM_SETPOS, 12, 0);
    SendMessageA(h, PBM_SETSTEP, static_cast<WPARAM>(std::intptr_t{-13}), 0);
    SendMessageA(h, PBM_STEPIT, 0, 0); // -1 -> 9 -> 19
    EXPECT_EQ(SendMessageA(h, PBM_GETPOS, 0, 0), 19);
}

TEST_F(WindowProgressClassTest, SmoothBarIsDrawnInItsColoursAndBlocksLeaveGaps) {
    const HWND smooth = Create(PBS_SMOOTH, 100, 12);
    EXPECT_EQ(SendMessageA(smooth, PBM_SETBARCOLOR, 0, Red), CLR_DEFAULT);
    EXPECT_EQ(SendMessageA(smooth, CCM_SETBKCOLOR, 0, Blue), CLR_DEFAULT);
    SendMessageA(smooth, PBM_SETPOS, 50, 0);
    QImage image = Bar(smooth)->grab().toImage();
    EXPECT_EQ(image.pixel(10, 6), Rgb(Red));
    EXPECT_EQ(image.pixel(48, 6), Rgb(Red));
    EXPECT_EQ(image.pixel(52, 6), Rgb(Blue));

    const HWND blocks = Create(0, 100, 12); // blocks of 8 pixels, 2-pixel gaps
    SendMessageA(blocks, PBM_SETBARCOLOR, 0, Red);
    SendMessageA(blocks, CCM_SETBKCOLOR, 0, Blue);
    SendMessageA(blocks, PBM_SETPOS, 50, 0);
    image = Bar(blocks)->grab().toImage();
    EXPECT_EQ(image.pixel(3, 6), Rgb(Red));
    EXPECT_EQ(image.pixel(8, 6), Rgb(Blue));
    EXPECT_EQ(image.pixel(10, 6), Rgb(Red));
    EXPECT_EQ(image.pixel(75, 6), Rgb(Blue));
}

TEST_F(WindowProgressClassTest, FrameChangeAppliesTheEdges) {
    const HWND h = Create(0);
    SetWindowLongA(h, GWL_EXSTYLE, WS_EX_STATICEDGE);
    EXPECT_EQ(Bar(h)->edge(), 0); // not until the frame is recalculated
    SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(Bar(h)->edge(), 1);
    EXPECT_EQ(Bar(h)->contentsRect(), Bar(h)->rect().adjusted(1, 1, -1, -1));

    // The parent's frame goes; the child keeps its place in the client area.
    SetWindowLongA(parentHandle, GWL_EXSTYLE, 0);
    SetWindowPos(parentHandle, HWND_TOP, 0, 0, 0, 0, SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(parent.frameStyle(), int(QFrame::NoFrame));
    EXPECT_EQ(Bar(h)->pos(), QPoint(0, 0));
}

TEST(OleTranslateColorTest, PassesRgbAndLooksUpSystemColours) {
    COLORREF c = 1;
    EXPECT_EQ(OleTranslateColor(0x00123456, 0, &c), S_OK);
    EXPECT_EQ(c, 0x00123456u);
    EXPECT_EQ(OleTranslateColor(0x8000000D, 0, &c), S_OK);
    const QColor highlight = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    EXPECT_EQ(c, static_cast<COLORREF>(highlight.red() | highlight.green() << 8 |
                                       highlight.blue() << 16));
    c = 7;
    EXPECT_EQ(OleTranslateColor(0x80000063, 0, &c), E_INVALIDARG);
    EXPECT_EQ(OleTranslateColor(0x04000000, 0, &c), E_INVALIDARG);
    EXPECT_EQ(c, 7u);
}
