// SPDX-License-Identifier: GPL-3.0-or-later
// A paced window paints a burst of changes a few times, never loses the last one, and paints
// as before when pacing is off.
#include "platform/window/PaintPacer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QWidget>
#include <gtest/gtest.h>

using namespace postlark;

namespace {

// Counts a label's paintings and remembers the text it showed at the last one.
class PaintLog : public QObject {
public:
    explicit PaintLog(QLabel* label) : label_(label) { label->installEventFilter(this); }
    int count = 0;
    QString lastPainted;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++count;
            lastPainted = label_->text();
        }
        return false;
    }

private:
    QLabel* label_;
};

void RunEventsFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

TEST(PaintPacer, ABurstIsPaintedAtTheIntervalAndItsLastChangeIsNotLost) {
    QWidget window;
    window.resize(200, 40);
    auto* label = new QLabel(QStringLiteral("start"), &window);
    label->setGeometry(0, 0, 200, 40);
    PaintPacer pacer(&window, 200);
    window.show();
    RunEventsFor(150);
    PaintLog paints(label);

    pacer.SetActive(true);
    QElapsedTimer clock;
    clock.start();
    int changes = 0;
    while (clock.elapsed() < 700) { // a change at every turn of the event loop
        label->setText(QString::number(++changes));
        QApplication::processEvents();
    }
    const QString last = label->text();
    EXPECT_GT(changes, 50);
    EXPECT_GE(paints.count, 2);
    EXPECT_LE(paints.count, 5) << "700 ms at one painting per 200 ms";
    RunEventsFor(300); // the held change is painted when the interval has passed
    EXPECT_EQ(paints.lastPainted, last);

    // Switching pacing off paints a held change at once, and later changes at the next turn.
    label->setText(QStringLiteral("held"));
    QApplication::processEvents();
    label->setText(QStringLiteral("held again"));
    QApplication::processEvents();
    pacer.SetActive(false);
    EXPECT_EQ(paints.lastPainted, QStringLiteral("held again"));
    const int before = paints.count;
    for (int i = 0; i < 5; ++i) {
        label->setText(QStringLiteral("free %1").arg(i));
        QApplication::processEvents();
        QApplication::processEvents();
    }
    EXPECT_EQ(paints.count, before + 5);
    EXPECT_EQ(paints.lastPainted, QStringLiteral("free 4"));
}

} // namespace
