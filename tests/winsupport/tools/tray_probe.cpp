// SPDX-License-Identifier: GPL-3.0-or-later
// Child program of the real-tray test: runs a CSystrayIcon on a real X display and answers
// commands read line by line from standard input:
//   show -> "show <result> <icon window or 0>"   hide -> "hide <result>"   quit -> exits
// It first prints "ready <1 when a notification area is present, else 0>", and prints
// "mouse <code>" for each mouse message the icon sends to its window.
#include "platform/shell/ShellNotify.h"
#include "platform/system/EventDispatcherChoice.h"
#include "platform/window/WindowLayer.h"
#include "winsupport/CSystrayIcon.h"

#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QSocketNotifier>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <iostream>
#include <string>

using namespace postlark;

namespace {

void Say(const QString& line) {
    std::cout << line.toStdString() << std::endl;
}

// The window Qt made for the icon, once it exists.
QString IconWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "QSystemTrayIconSys" &&
            widget->testAttribute(Qt::WA_WState_Created))
            return "0x" + QString::number(widget->winId(), 16);
    }
    return "0";
}

} // namespace

int main(int argc, char** argv) {
    postlark::ChooseEventDispatcher(); // as the program does
    QApplication app(argc, argv);
    postlark::EndEventDispatcherChoice();
    QWidget window;
    const win::HWND hWnd = win::RegisterWindow(&window);

    QPixmap picture(22, 22);
    picture.fill(Qt::red);
    CSystrayIcon icon;
    icon.Initialize(hWnd, win::RegisterIcon(QIcon(picture)), "Postlark tray test",
                    win::WM_MOUSEMOVE);
    win::SetMouseMoveHandler(hWnd, [](int, int, int x, int) { Say(QString("mouse %1").arg(x)); });
    QObject::connect(&icon, &CSystrayIcon::NIError,
                     [](long error) { Say("error " + QString::number(error)); });

    // The tray host may still be taking over the notification area when we start.
    int waited = 0;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QSystemTrayIcon::isSystemTrayAvailable() || (waited += 50) >= 5000) {
            poll.stop();
            Say(QString("ready %1").arg(QSystemTrayIcon::isSystemTrayAvailable() ? 1 : 0));
        }
    });
    poll.start();

    QSocketNotifier input(fileno(stdin), QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string command;
        if (!std::getline(std::cin, command) || command == "quit") {
            input.setEnabled(false);
            app.quit();
        } else if (command == "show") {
            const bool shown = icon.ShowIcon();
            QEventLoop settle; // let Qt make the icon's window
            QTimer check;
            int left = 60;
            QObject::connect(&check, &QTimer::timeout, [&] {
                if (IconWindow() != "0" || --left == 0)
                    settle.quit();
            });
            check.start(50);
            settle.exec();
            Say(QString("show %1 %2").arg(shown ? 1 : 0).arg(IconWindow()));
        } else if (command == "hide") {
            Say(QString("hide %1").arg(icon.HideIcon() ? 1 : 0));
        }
    });
    return app.exec();
}
