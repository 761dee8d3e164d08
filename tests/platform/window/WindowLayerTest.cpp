// SPDX-License-Identifier: GPL-3.0-or-later
// The handle table: handles, properties, window longs, the procedure chain, the default
// procedure and the message log.
#include "platform/window/WindowLayer.h"
#include "platform/window/WindowCalls.h"
#include "platform/window/WindowMessageLog.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

using namespace postlark::win;

namespace {

std::vector<UINT> seen;

// Answers WM_USER itself and passes everything else to the default procedure.
LRESULT RecordingProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    seen.push_back(msg);
    return msg == WM_USER ? 42 : DefWindowProcA(hWnd, msg, wParam, lParam);
}

// Consumes every message.
LRESULT SwallowingProc(HWND, UINT msg, WPARAM, LPARAM) {
    seen.push_back(msg);
    return 0;
}

std::vector<std::string> propNames;
BOOL CollectProp(HWND, const char* name, HANDLE) {
    propNames.emplace_back(name);
    return TRUE_;
}

class WindowLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        seen.clear();
        hWnd = RegisterWindow(&window);
    }
    QWidget window;
    HWND hWnd = 0;
};

} // namespace

TEST_F(WindowLayerTest, HandleIsValidExactlyWhileTheWidgetLives) {
    auto w = std::make_unique<QWidget>();
    const HWND h = RegisterWindow(w.get());
    ASSERT_NE(h, 0);
    EXPECT_NE(h, hWnd);
    EXPECT_EQ(RegisterWindow(w.get()), h);
    EXPECT_EQ(WidgetFromHandle(h), w.get());
    EXPECT_TRUE(IsWindow(h));

    w.reset();
    EXPECT_FALSE(IsWindow(h));
    EXPECT_EQ(WidgetFromHandle(h), nullptr);
    SetLastError(0);
    EXPECT_EQ(SendMessageA(h, WM_USER, 0, 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(IsWindow(0));
}

TEST_F(WindowLayerTest, PropertiesIgnoreCaseAndCanBeListedAndRemoved) {
    EXPECT_EQ(GetPropA(hWnd, "Missing"), 0);
    EXPECT_TRUE(SetPropA(hWnd, "C1234", 7));
    EXPECT_EQ(GetPropA(hWnd, "c1234"), 7);
    EXPECT_TRUE(SetPropA(hWnd, "c1234", 8)); // same property, new value
    EXPECT_TRUE(SetPropA(hWnd, "1234#274#1", 9));

    propNames.clear();
    EXPECT_EQ(EnumPropsA(hWnd, &CollectProp), TRUE_);
    EXPECT_EQ(propNames, (std::vector<std::string>{"1234#274#1", "C1234"}));

    EXPECT_EQ(RemovePropA(hWnd, "C1234"), 8);
    EXPECT_EQ(RemovePropA(hWnd, "C1234"), 0);
    EXPECT_EQ(GetPropA(hWnd, "C1234"), 0);

    SetLastError(0);
    EXPECT_FALSE(SetPropA(hWnd + 1, "X", 1));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowLayerTest, ReplacedProcedureReceivesMessagesAndCanChainToTheOld) {
    EXPECT_EQ(GetWindowLongA(hWnd, GWL_WNDPROC), reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    const LONG_PTR old =
        SetWindowLongA(hWnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
    EXPECT_EQ(old, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
    EXPECT_EQ(SendMessageA(hWnd, WM_USER, 1, 2), 42);
    EXPECT_EQ(CallWindowProcA(reinterpret_cast<WNDPROC>(old), hWnd, WM_USER, 0, 0), 0);
    EXPECT_EQ(seen, std::vector<UINT>{WM_USER});

    EXPECT_EQ(SetWindowLongA(hWnd, GWL_EXSTYLE, WS_EX_CLIENTEDGE), 0);
    EXPECT_EQ(GetWindowLongA(hWnd, GWL_EXSTYLE), WS_EX_CLIENTEDGE);
    SetLastError(0);
    EXPECT_EQ(GetWindowLongA(hWnd, 12345), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
}

TEST_F(WindowLayerTest, DefaultProcedureCarriesOutSystemCommands) {
    window.show();
    SendMessageA(hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(window.isMinimized());
    SendMessageA(hWnd, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());

    // Close goes through WM_CLOSE, so a procedure that swallows WM_CLOSE keeps the window.
    SetWindowLongA(hWnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProc));
    SendMessageA(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(seen, (std::vector<UINT>{WM_SYSCOMMAND, WM_CLOSE}));
    EXPECT_FALSE(window.isVisible());

    window.show();
    seen.clear();
    SetWindowLongA(hWnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&SwallowingProc));
    SendMessageA(hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_FALSE(window.isMinimized());
}

TEST_F(WindowLayerTest, MouseMoveReachesTheFormHandlerWithSignedCoordinates) {
    std::vector<int> got;
    SetMouseMoveHandler(hWnd, [&](int button, int shift, int x, int y) {
        got = {button, shift, x, y};
    });
    SendMessageA(hWnd, WM_MOUSEMOVE, MK_RBUTTON | MK_SHIFT, MAKELPARAM(515, static_cast<UINT>(-3)));
    EXPECT_EQ(got, (std::vector<int>{2, 1, 515, -3}));
}

TEST_F(WindowLayerTest, MessageLogRecordsOnlyWhileSwitchedOn) {
    SendMessageA(hWnd, WM_USER, 1, 1);
    SetMessageLogging(true);
    SendMessageA(hWnd, WM_USER + 1, 2, 3);
    SendMessageA(hWnd + 1, WM_USER + 2, 0, 0); // not a window: not delivered, not logged
    EXPECT_EQ(MessageLog(), (std::vector<LoggedMessage>{{hWnd, WM_USER + 1, 2, 3}}));
    EXPECT_EQ(MessagesSentTo(hWnd + 1).size(), 0u);
    SetMessageLogging(false);
    SendMessageA(hWnd, WM_USER, 1, 1);
    EXPECT_TRUE(MessageLog().empty());
}

TEST_F(WindowLayerTest, ReparentingAndDestroyingKeepVisibilityAndInvalidateTheHandle) {
    QWidget other;
    const HWND otherHandle = RegisterWindow(&other);
    auto* child = new QWidget(&window);
    const HWND childHandle = RegisterWindow(child);
    child->show();

    EXPECT_EQ(SetParent(childHandle, otherHandle), hWnd);
    EXPECT_EQ(child->parentWidget(), &other);
    EXPECT_FALSE(child->isHidden());
    EXPECT_EQ(SetParent(childHandle, 0), otherHandle);
    EXPECT_EQ(child->parentWidget(), nullptr);

    // A window the layer did not create is hidden and forgotten, not deleted.
    EXPECT_TRUE(DestroyWindow(childHandle));
    EXPECT_FALSE(IsWindow(childHandle));
    EXPECT_TRUE(child->isHidden());
    delete child;
    EXPECT_FALSE(DestroyWindow(childHandle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}
