// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/LinkLabel.h"

#include <QMouseEvent>

namespace postlark {

LinkLabel::LinkLabel(const QString& text, const QString& objectName, QWidget* parent)
    : QLabel(text, parent) {
    setObjectName(objectName);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    // Only the label's own events: a move over it must not also count as one over the dialog.
    setAttribute(Qt::WA_NoMousePropagation);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
}

QColor LinkLabel::ForeColor() const {
    return palette().color(QPalette::WindowText);
}

void LinkLabel::SetForeColor(const QColor& colour) {
    if (ForeColor() == colour)
        return;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colour);
    setPalette(p);
}

void LinkLabel::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
    emit mouseMoved();
}

void LinkLabel::mousePressEvent(QMouseEvent* event) {
    event->accept();
    pressed_ = event->button() == Qt::LeftButton;
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    const bool click = pressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click)
        emit clicked();
}

} // namespace postlark
