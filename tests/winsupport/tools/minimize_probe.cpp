// SPDX-License-Identifier: GPL-3.0-or-later
// Child program of the real-minimize test: a registered top-level window on a real X display
// with a window manager, and a handler attached to its WM_SYSCOMMAND that consumes SC_MINIMIZE.
// With "hide" (the default) the handler hides the window; with "keep" it does nothing else;
// with "pass" it hands SC_MINIMIZE on to the previous procedure.
// Below the subclass sits a spy procedure that reports what reaches the previous procedure.
// It prints:
//   window <X id>            once the window is on screen
//   syscommand <wParam>      for each WM_SYSCOMMAND the handler receives
//   default <msg> <wParam>   for each message that reaches the previous procedure
//   state <minimized> <visible>  after the command "state"
// and answers "show" by showing the window and then printing its state; "quit" exits.
#include "platform/system/EventDispatcherChoice.h"
#include "platform/window/WindowLayer.h"
#include "winsupport/MSubclass.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <iostream>
#include <string>

using namespace postlark;
using namespace postlark::win;

namespace {

void Say(const QString& line) {
    std::cout << line.toStdString() << std::endl;
}

WNDPROC previous = nullptr;

LRESULT SpyProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SYSCOMMAND)
        Say(QString("default %1 %2").arg(msg).arg(wParam));
    return CallWindowProcA(previous, hWnd, msg, wParam, lParam);
}

class MinimizeHandler : public ISubclass {
public:
    MinimizeHandler(QWidget* window, std::string mode) : window_(window), mode_(std::move(mode)) {}
    std::int32_t MsgResponse() override { return ResponseConsume; }
    void SetMsgResponse(std::int32_t) override {}
    LRESULT WindowProc(HWND hWnd, UINT iMsg, WPARAM wParam, LPARAM lParam) override {
        Say(QString("syscommand %1").arg(wParam));
        if ((wParam & 0xFFF0) != SC_MINIMIZE || mode_ == "pass")
            return MSubclass::CallOldWindowProc(hWnd, iMsg, wParam, lParam);
        if (mode_ == "hide")
            window_->hide();
        return 0;
    }

private:
    QWidget* window_;
    std::string mode_;
};

QString State(const QWidget& w) {
    return QString("state %1 %2").arg(w.isMinimized() ? 1 : 0).arg(w.isVisible() ? 1 : 0);
}

} // namespace

int main(int argc, char** argv) {
    postlark::ChooseEventDispatcher(); // as the program does
    QApplication app(argc, argv);
    postlark::EndEventDispatcherChoice();
    const std::string mode = argc > 1 ? argv[1] : "hide";

    QWidget window;
    window.setWindowTitle("minimize probe");
    window.resize(240, 160);
    const HWND hWnd = RegisterWindow(&window);
    previous = reinterpret_cast<WNDPROC>(
        SetWindowLongA(hWnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&SpyProc)));
    MinimizeHandler handler(&window, mode);
    MSubclass::AttachMessage(&handler, hWnd, WM_SYSCOMMAND);

    window.show();
    QTimer::singleShot(0, [&] { Say("window 0x" + QString::number(window.winId(), 16)); });

    QSocketNotifier input(fileno(stdin), QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string command;
        if (!std::getline(std::cin, command) || command == "quit") {
            input.setEnabled(false);
            MSubclass::DetachMessage(&handler, hWnd, WM_SYSCOMMAND);
            app.quit();
        } else if (command == "show") {
            window.show();
            QTimer::singleShot(300, [&] { Say(State(window)); });
        } else if (command == "state") {
            Say(State(window));
        }
    });
    return app.exec();
}
