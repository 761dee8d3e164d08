// SPDX-License-Identifier: GPL-3.0-or-later
// The system menu and the window-manager events that arrive as WM_SYSCOMMAND.
#include "platform/window/SystemMenu.h"
#include "platform/window/WindowLayer.h"
#include "platform/window/WindowMessageLog.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QWidget>
#include <QWindow>
#include <gtest/gtest.h>
#include <vector>

using namespace postlark::win;

namespace {

std::vector<WPARAM> commands;
bool consumeMinimize = false;

LRESULT CommandProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SYSCOMMAND) {
        commands.push_back(wParam);
        if (wParam == 1 || (wParam == SC_MINIMIZE && consumeMinimize))
            return 0;
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}

void ProcessEvents() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

QStringList Texts(const QMenu* menu) {
    QStringList texts;
    for (const QAction* a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

class WindowSystemMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        commands.clear();
        consumeMinimize = false;
        window.resize(200, 100);
        hWnd = RegisterWindow(&window);
        SetWindowLongA(hWnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&CommandProc));
    }
    QWidget window;
    HWND hWnd = 0;
};

} // namespace

TEST_F(WindowSystemMenuTest, AppendedItemsFollowTheStandardOnesAndRevertDropsThem) {
    EXPECT_FALSE(HasSystemMenu(hWnd));
    const HMENU menu = GetSystemMenu(hWnd, FALSE_);
    ASSERT_NE(menu, 0);
    EXPECT_EQ(GetSystemMenu(hWnd, FALSE_), menu);
    EXPECT_TRUE(AppendMenuA(menu, MF_SEPARATOR, 0, nullptr));
    EXPECT_TRUE(AppendMenuA(menu, MF_STRING, 1, "&About Postlark..."));

    const auto items = SystemMenuItems(hWnd);
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[0].id, SC_RESTORE);
    EXPECT_EQ(items[1].id, SC_MINIMIZE);
    EXPECT_EQ(items[3].id, SC_CLOSE);
    EXPECT_TRUE(items[4].flags & MF_SEPARATOR);
    EXPECT_EQ(items[5].id, 1u);
    EXPECT_EQ(items[5].text, "&About Postlark...");

    EXPECT_EQ(GetSystemMenu(hWnd, TRUE_), 0);
    EXPECT_EQ(SystemMenuItems(hWnd).size(), 4u);

    SetLastError(0);
    EXPECT_FALSE(AppendMenuA(menu + 1, MF_STRING, 2, "x"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_MENU_HANDLE);
    EXPECT_EQ(GetSystemMenu(hWnd + 1, FALSE_), 0);
}

TEST_F(WindowSystemMenuTest, ContextMenuShowsTheSystemMenuAndItsChoiceIsSentAsACommand) {
    window.show();
    QContextMenuEvent noMenu(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QApplication::sendEvent(&window, &noMenu);
    EXPECT_EQ(window.findChild<QMenu*>("SystemMenu"), nullptr);

    AppendMenuA(GetSystemMenu(hWnd, FALSE_), MF_STRING, 1, "&About Postlark...");
    QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(5, 5));
    QApplication::sendEvent(&window, &request);
    auto* menu = window.findChild<QMenu*>("SystemMenu");
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(Texts(menu),
              (QStringList{"&Restore", "Mi&nimize", "-", "&Close", "&About Postlark..."}));
    EXPECT_FALSE(menu->actions()[0]->isEnabled()); // a normal window has nothing to restore

    menu->actions()[4]->trigger();
    menu->close();
    ProcessEvents();
    EXPECT_EQ(commands, std::vector<WPARAM>{1});
    EXPECT_TRUE(window.isVisible());
}

TEST_F(WindowSystemMenuTest, WindowManagerMinimizeIsSentAsSysCommandAndStaysWhenDefaultRuns) {
    window.show();
    window.windowHandle()->setWindowStates(Qt::WindowMinimized); // as the window manager does
    ProcessEvents();
    EXPECT_EQ(commands, std::vector<WPARAM>{SC_MINIMIZE});
    EXPECT_TRUE(window.isMinimized());

    // The program's own minimize is not reported back as a command.
    window.showNormal();
    ProcessEvents();
    commands.clear();
    window.showMinimized();
    ProcessEvents();
    EXPECT_TRUE(commands.empty());
    EXPECT_TRUE(window.isMinimized());
}

TEST_F(WindowSystemMenuTest, ConsumedMinimizeIsUndone) {
    consumeMinimize = true;
    window.show();
    SetMessageLogging(true);
    window.windowHandle()->setWindowStates(Qt::WindowMinimized);
    ProcessEvents();
    EXPECT_EQ(MessagesSentTo(hWnd),
              (std::vector<LoggedMessage>{{hWnd, WM_SYSCOMMAND, SC_MINIMIZE, 0}}));
    SetMessageLogging(false);
    EXPECT_FALSE(window.isMinimized());
    EXPECT_TRUE(window.isVisible());
}
