// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The About box's pictures, drawn from the program's own SVG artwork.
#include <QString>

class QLabel;
class QWidget;

namespace postlark {

enum class AboutImage {
    Emblem, // 64 x 64: the program's emblem
    Globe,  // 32 x 32: beside the web links
    Letter, // 32 x 32: beside the mail and updates links
};

// A label showing the picture at its natural size; an empty picture when it cannot be drawn.
QLabel* AboutPicture(AboutImage image, const QString& objectName, QWidget* parent);

} // namespace postlark
