// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/AboutArtwork.h"

#include <QIcon>
#include <QLabel>

// The artwork lives in a static library, so its resources are registered by hand.
static void InitAboutResources() {
    Q_INIT_RESOURCE(about);
}

namespace postlark {

QLabel* AboutPicture(AboutImage image, const QString& objectName, QWidget* parent) {
    InitAboutResources();
    const char* file = ":/about/about_emblem.svg";
    int side = 64;
    switch (image) {
    case AboutImage::Emblem:
        break;
    case AboutImage::Globe:
        file = ":/about/about_globe.svg";
        side = 32;
        break;
    case AboutImage::Letter:
        file = ":/about/about_letter.svg";
        side = 32;
        break;
    }
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setFixedSize(side, side);
    label->setPixmap(QIcon(QString::fromLatin1(file)).pixmap(side, side));
    return label;
}

} // namespace postlark
