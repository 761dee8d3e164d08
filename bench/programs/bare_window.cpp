// SPDX-License-Identifier: GPL-3.0-or-later
// The yardstick for resident memory: a Qt program with one shown main window and nothing else.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.show();
    return app.exec();
}
