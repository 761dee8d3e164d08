// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/window/WindowFrame.h"

#include <QFrame>
#include <QPointer>
#include <vector>

namespace postlark::win::detail {

namespace {
QPoint clientOrigin(const QWidget* parent) {
    return parent ? parent->contentsRect().topLeft() : QPoint();
}
} // namespace

QRect ClientGeometry(const QWidget* w) {
    if (w->isWindow())
        return w->geometry();
    return w->geometry().translated(-clientOrigin(w->parentWidget()));
}

void SetClientGeometry(QWidget* w, const QRect& r) {
    if (w->isWindow())
        w->setGeometry(r);
    else
        w->setGeometry(r.translated(clientOrigin(w->parentWidget())));
}

void ApplyFrame(WindowEntry& e) {
    QWidget* w = e.widget;
    const QPoint before = w->contentsRect().topLeft();
    struct Placed {
        QPointer<QWidget> child;
        QRect geometry;
    };
    std::vector<Placed> children;
    for (QObject* object : w->children()) {
        auto* child = qobject_cast<QWidget*>(object);
        if (child && !child->isWindow())
            children.push_back({child, child->geometry()});
    }

    if (auto* own = dynamic_cast<EdgeDrawing*>(w)) {
        own->applyExStyle(e.exStyle);
    } else if (auto* frame = qobject_cast<QFrame*>(w)) {
        if (e.exStyle & WS_EX_CLIENTEDGE) {
            frame->setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
        } else if (e.exStyle & WS_EX_STATICEDGE) {
            frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            frame->setLineWidth(1);
        } else {
            frame->setFrameStyle(QFrame::NoFrame);
        }
    }

    // Children keep their place in the client area, unless the window placed them anew
    // when its client area changed.
    const QPoint shift = w->contentsRect().topLeft() - before;
    for (const Placed& placed : children) {
        if (placed.child && placed.child->geometry() == placed.geometry && !shift.isNull())
            placed.child->move(placed.geometry.topLeft() + shift);
    }
}

} // namespace postlark::win::detail
