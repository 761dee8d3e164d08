// Postlark entry point: creates the application and the main window, which runs the program.
#include "app/PostlarkForm.h"
#include "platform/TerminationSignals.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Postlark");
    QApplication::setApplicationVersion(POSTLARK_VERSION);
    // The window may be hidden in the tray; the program ends when the main window unloads.
    QApplication::setQuitOnLastWindowClosed(false);

    postlark::PostlarkForm form(QApplication::arguments().mid(1));
    if (!form.Form_Load())
        return 0;
    postlark::TerminationSignals termination;
    QObject::connect(&termination, &postlark::TerminationSignals::Terminate, &form,
                     [&form] { form.close(); });
    return app.exec();
}
