// SPDX-License-Identifier: GPL-3.0-or-later
// Child program of the real-display system-menu test: loads the main window on a real X
// display and reports on it. Below the window's subclass sits a spy procedure that reports
// each system command reaching the window's own procedure. It prints:
//   window <X id>                  once the window is on screen
//   default <msg> <wParam>         for each WM_SYSCOMMAND that reaches the window's procedure
//   state <visible> <minimized> <maximized> <Show checked> <tray icon shown>   after "state"
//   icon <X id or 0>               after "icon": the tray icon's window
//   modal <object name or ->       after "modal": the open modal dialog
//   ok                             after "maximize" (maximizes the window) and "move" (sends
//                                  the system command SC_MOVE to the window)
//   unloaded                       when the window has unloaded and the program ends
// "quit" closes the window.
#include "app/PostlarkForm.h"
#include "platform/system/EventDispatcherChoice.h"
#include "platform/window/WindowLayer.h"
#include "winsupport/CSystrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>

using namespace postlark;

namespace {

void Say(const QString& line) {
    std::cout << line.toStdString() << std::endl;
}

win::WNDPROC previous = nullptr;

win::LRESULT SpyProc(win::HWND hWnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    if (msg == win::WM_SYSCOMMAND)
        Say(QString("default %1 %2").arg(msg).arg(wParam));
    return win::CallWindowProcA(previous, hWnd, msg, wParam, lParam);
}

QString IconWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == "QSystemTrayIconSys" && widget->isVisible())
            return "0x" + QString::number(widget->winId(), 16);
    return "0";
}

} // namespace

int main(int argc, char** argv) {
    postlark::ChooseEventDispatcher(); // as the program does
    QApplication app(argc, argv);
    postlark::EndEventDispatcherChoice();
    QApplication::setQuitOnLastWindowClosed(false);

    PostlarkForm form({});
    const win::HWND hWnd = form.Handle();
    previous = reinterpret_cast<win::WNDPROC>(
        win::SetWindowLongA(hWnd, win::GWL_WNDPROC, reinterpret_cast<win::LONG_PTR>(&SpyProc)));
    if (!form.Form_Load())
        return 1;
    QTimer::singleShot(0, [&] { Say("window 0x" + QString::number(form.winId(), 16)); });

    auto* show = form.findChild<QAction*>("menu_Show");
    QSocketNotifier input(fileno(stdin), QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string command;
        if (!std::getline(std::cin, command) || command == "quit") {
            input.setEnabled(false);
            form.close();
        } else if (command == "state") {
            Say(QString("state %1 %2 %3 %4 %5")
                    .arg(form.isVisible())
                    .arg(form.isMinimized())
                    .arg(form.isMaximized())
                    .arg(show->isChecked())
                    .arg(form.SysIcon().Visible()));
        } else if (command == "icon") {
            Say("icon " + IconWindow());
        } else if (command == "modal") {
            QWidget* modal = QApplication::activeModalWidget();
            Say("modal " + (modal ? modal->objectName() : QString("-")));
        } else if (command == "maximize") {
            form.showMaximized();
            Say("ok");
        } else if (command == "move") {
            win::SendMessageA(hWnd, win::WM_SYSCOMMAND, win::SC_MOVE, 0);
            Say("ok");
        }
    });
    const int code = app.exec();
    Say("unloaded");
    return code;
}
