// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Paints a window at most once per interval while switched on. A check run changes the status
// text and the progress bar after every account, often many times within one frame of the
// screen; painting each change costs more than the dialogue with the server. Changes that come
// sooner than the interval after the last painting are painted together when it has passed.
// Exposing and resizing the window paint at once as always: only the window's own update
// requests wait.
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

namespace postlark {

class PaintPacer : public QObject {
public:
    PaintPacer(QWidget* window, int intervalMs);

    // Off, every update request is painted as it comes, and a held one is painted now.
    void SetActive(bool active);
    bool Active() const { return active_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void PaintHeld();

    QWidget* window_;
    int intervalMs_;
    bool active_ = false;
    bool held_ = false;
    bool releasing_ = false;
    QElapsedTimer sinceLastPaint_;
    QTimer release_;
};

} // namespace postlark
