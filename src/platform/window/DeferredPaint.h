// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Some Qt setters (QStatusBar::showMessage, QProgressBar::setValue) repaint their widget at
// once. Run through SetWithoutRepaint, the change is painted at the next turn of the event
// loop instead, together with whatever else changed by then: a check run waits in the event
// loop after every account anyway, so a synchronous repaint per account is pure cost.
#include <QWidget>

#include <utility>

namespace postlark {

template <typename Setter> void SetWithoutRepaint(QWidget* widget, Setter&& setter) {
    if (!widget->updatesEnabled() || !widget->isVisible()) {
        std::forward<Setter>(setter)();
        return;
    }
    widget->setUpdatesEnabled(false); // a repaint() now does nothing
    std::forward<Setter>(setter)();
    widget->setUpdatesEnabled(true); // schedules one update() of the widget
}

} // namespace postlark
