// SPDX-License-Identifier: GPL-3.0-or-later
// Child program of the real-desktop tests of the main window: starts Postlark's main window as
// the program does, on the display and session bus of its environment, and talks on its
// standard streams. It prints:
//   loaded                              once start-up is over
//   menu <x> <y> <x> <y> <x> <y>        when the File menu opens: the screen centres of its
//                                       "Check Mail Now", "Show" and "Exit" entries
// and answers these commands read line by line:
//   state  -> "state <visible> <show checked> <icon shown> <check running> <flashing> <window>"
//   icon   -> "icon <the tray icon's X window, or 0>"
//   alert  -> starts the new-mail tray alert, then "alert"
//   size   -> "size <window width> <height> <client area width> <height> <client area top>"
//   check  -> runs a check as the check button does, then "checked"
//   status -> "status <the status bar's text>"
// The program's exit code is the event loop's, as for Postlark itself.
#include "app/PostlarkForm.h"
#include "platform/system/EventDispatcherChoice.h"
#include "winsupport/CSystrayIcon.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>

#include <cstdio>
#include <iostream>
#include <string>

using namespace postlark;

namespace {

void Say(const QString& line) {
    std::cout << line.toStdString() << std::endl;
}

QString IconWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "QSystemTrayIconSys" &&
            widget->testAttribute(Qt::WA_WState_Created) && widget->isVisible())
            return "0x" + QString::number(widget->winId(), 16);
    }
    return "0";
}

class MenuReporter : public QObject {
public:
    explicit MenuReporter(QMenu* menu) : menu_(menu) { menu->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show)
            QTimer::singleShot(100, menu_, [this] { Report(); });
        return false;
    }

private:
    void Report() {
        QString line = "menu";
        for (const char* name : {"menu_Checknow", "menu_Show", "menu_Exit"}) {
            QAction* action = menu_->findChild<QAction*>(name);
            if (!action) { // actions belong to the window; look them up there
                for (QAction* a : menu_->actions())
                    if (a->objectName() == name)
                        action = a;
            }
            const QPoint centre =
                action ? menu_->mapToGlobal(menu_->actionGeometry(action).center()) : QPoint();
            line += QString(" %1 %2").arg(centre.x()).arg(centre.y());
        }
        Say(line);
    }
    QMenu* menu_;
};

} // namespace

int main(int argc, char** argv) {
    postlark::ChooseEventDispatcher(); // as the program does
    QApplication app(argc, argv);
    postlark::EndEventDispatcherChoice();
    QApplication::setApplicationName("Postlark");
    QApplication::setQuitOnLastWindowClosed(false);

    PostlarkForm form(QApplication::arguments().mid(1));
    if (!form.Form_Load())
        return 0;
    MenuReporter reporter(form.findChild<QMenu*>("menu_File"));
    Say("loaded");

    QSocketNotifier input(fileno(stdin), QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        std::string command;
        if (!std::getline(std::cin, command)) {
            input.setEnabled(false);
            return;
        }
        if (command == "state") {
            const auto* check = form.findChild<QPushButton*>("CheckButton");
            const auto* flash = form.findChild<QTimer*>("TimerFlash");
            Say(QString("state %1 %2 %3 %4 %5 0x%6")
                    .arg(form.isVisible() && !form.isMinimized() ? 1 : 0)
                    .arg(form.findChild<QAction*>("menu_Show")->isChecked() ? 1 : 0)
                    .arg(form.SysIcon().Visible() ? 1 : 0)
                    .arg(check->text() == "&Skip Account" ? 1 : 0)
                    .arg(flash->isActive() ? 1 : 0)
                    .arg(QString::number(form.winId(), 16)));
        } else if (command == "icon") {
            Say("icon " + IconWindow());
        } else if (command == "size") {
            const QWidget* client = form.findChild<QWidget*>("ClientArea");
            Say(QString("size %1 %2 %3 %4 %5")
                    .arg(form.width())
                    .arg(form.height())
                    .arg(client->width())
                    .arg(client->height())
                    .arg(client->y()));
        } else if (command == "check") {
            form.CheckButton_Click();
            Say("checked");
        } else if (command == "status") {
            Say("status " + form.findChild<QStatusBar*>("StatusBar")->currentMessage());
        } else if (command == "alert") {
            form.StartTrayAlert("You have new mail waiting!  (Left click to dismiss this icon.)");
            Say("alert");
        }
    });
    return app.exec();
}
