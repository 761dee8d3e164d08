// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/Screen.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace postlark::win {

namespace {

int TwipsPerPixel(double dotsPerInch) {
    if (dotsPerInch <= 0)
        return 15;
    return std::max(1, static_cast<int>(std::lround(1440.0 / dotsPerInch)));
}

} // namespace

int TwipsPerPixelX() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return TwipsPerPixel(screen ? screen->logicalDotsPerInchX() : 96.0);
}

int TwipsPerPixelY() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return TwipsPerPixel(screen ? screen->logicalDotsPerInchY() : 96.0);
}

double ScreenWidthTwips() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? double(screen->geometry().width()) * TwipsPerPixelX() : 0.0;
}

double ScreenHeightTwips() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? double(screen->geometry().height()) * TwipsPerPixelY() : 0.0;
}

} // namespace postlark::win
