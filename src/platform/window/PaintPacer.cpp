// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/PaintPacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace postlark {

PaintPacer::PaintPacer(QWidget* window, int intervalMs)
    : QObject(window), window_(window), intervalMs_(intervalMs) {
    release_.setSingleShot(true);
    connect(&release_, &QTimer::timeout, this, [this] { PaintHeld(); });
    window_->installEventFilter(this);
}

void PaintPacer::SetActive(bool active) {
    active_ = active;
    if (!active_ && held_) {
        release_.stop();
        PaintHeld();
    }
}

// The window's repaint bookkeeping keeps its dirty regions and posts no further request while
// one is outstanding, so holding the request back holds the painting back, and sending one
// later paints everything that changed meanwhile.
bool PaintPacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_ || event->type() != QEvent::UpdateRequest || releasing_)
        return false;
    if (!active_ || !sinceLastPaint_.isValid() || sinceLastPaint_.elapsed() >= intervalMs_) {
        sinceLastPaint_.start();
        return false;
    }
    held_ = true;
    if (!release_.isActive())
        release_.start(static_cast<int>(intervalMs_ - sinceLastPaint_.elapsed()));
    return true;
}

void PaintPacer::PaintHeld() {
    if (!held_)
        return;
    held_ = false;
    sinceLastPaint_.start();
    releasing_ = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window_, &request);
    releasing_ = false;
}

} // namespace postlark
