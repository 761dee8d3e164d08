// SPDX-License-Identifier: GPL-3.0-or-later
// Saves a PNG of the X screen named by DISPLAY, whole or one rectangle of it:
// screengrab OUT.png [X Y WIDTH HEIGHT]
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc != 2 && argc != 6) {
        std::fprintf(stderr, "usage: screengrab OUT.png [X Y WIDTH HEIGHT]\n");
        return 2;
    }
    int area[4] = {0, 0, -1, -1}; // the whole screen
    for (int i = 0; argc == 6 && i < 4; ++i)
        area[i] = std::atoi(argv[i + 2]);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0, area[0], area[1], area[2], area[3])
                        .save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "screengrab: could not grab or save the screen\n");
        return 1;
    }
    return 0;
}
