// SPDX-License-Identifier: GPL-3.0-or-later
// Postlark entry point: creates the application and the main window, which runs the program.
#include "app/CommandLineInfo.h"
#include "app/PostlarkForm.h"
#include "platform/system/EventDispatcherChoice.h"
#include "platform/system/TerminationSignals.h"

#include <QApplication>
#include <iostream>

int main(int argc, char* argv[]) {
    // --help and --version are answered before anything touches the display or the settings.
    if (const auto status = postlark::AnswerInfoSwitch(argc, argv, std::cout))
        return *status;

    postlark::ChooseEventDispatcher();
    QApplication app(argc, argv);
    postlark::EndEventDispatcherChoice();
    QApplication::setApplicationName("Postlark");
    QApplication::setApplicationVersion(POSTLARK_VERSION);
    // Lets the desktop match the windows to the installed desktop entry and its icon.
    QApplication::setDesktopFileName("org.postlark.Postlark");
    // The window may be hidden in the tray; the program ends when the main window unloads.
    QApplication::setQuitOnLastWindowClosed(false);

    // Hang-up, terminate and interrupt end the program in order from the first moment on.
    postlark::TerminationSignals termination;
    postlark::PostlarkForm form(QApplication::arguments().mid(1));
    QObject::connect(&termination, &postlark::TerminationSignals::Terminate, &form,
                     [&form] { form.RequestEnd(); });
    if (!form.Form_Load())
        return 0;
    return app.exec();
}
