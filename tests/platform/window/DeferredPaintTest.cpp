// SPDX-License-Identifier: GPL-3.0-or-later
// Changes that Qt would repaint at once are painted at the next turn of the event loop.
#include "platform/window/DeferredPaint.h"
#include "platform/window/CommonControls.h"
#include "platform/window/ProgressClass.h"
#include "platform/window/WindowCreate.h"
#include "platform/window/WindowLayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

using namespace postlark;

namespace {

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

// Shows the window and lets its first painting happen.
void ShowAndSettle(QWidget& window) {
    window.show();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200)
        QApplication::processEvents();
}

void Settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

} // namespace

TEST(DeferredPaint, StatusTextAndProgressArePaintedOnceAtTheNextTurn) {
    win::InitCommonControls();
    QWidget window;
    window.resize(300, 80);
    auto* status = new QStatusBar(&window);
    status->setGeometry(0, 50, 300, 24);
    const win::HWND parent = win::RegisterWindow(&window);
    const win::HWND bar =
        win::CreateWindowExA(0, "msctls_progress32", "", win::WS_CHILD | win::WS_VISIBLE, 0, 0, 300,
                             20, parent, 0, 0, nullptr);
    auto* progress = dynamic_cast<win::ProgressWindow*>(win::WidgetFromHandle(bar));
    ASSERT_NE(progress, nullptr);
    win::SendMessageA(bar, win::PBM_SETRANGE32, 0, 100);
    ShowAndSettle(window);
    PaintCounter statusPaints(status), progressPaints(progress);

    for (int i = 1; i <= 10; ++i) {
        SetWithoutRepaint(status, [&] { status->showMessage(QString("Checking %1").arg(i)); });
        win::SendMessageA(bar, win::PBM_SETPOS, static_cast<win::WPARAM>(i * 10), 0);
    }
    EXPECT_EQ(statusPaints.count, 0) << "painted before the event loop turned";
    EXPECT_EQ(progressPaints.count, 0) << "painted before the event loop turned";
    EXPECT_EQ(status->currentMessage(), "Checking 10");

    Settle();
    EXPECT_EQ(statusPaints.count, 1);
    EXPECT_EQ(progressPaints.count, 1);
    EXPECT_EQ(progress->value(), 100) << "the bar's value follows when it is painted";
    EXPECT_TRUE(status->updatesEnabled());
    EXPECT_TRUE(progress->updatesEnabled());
}
