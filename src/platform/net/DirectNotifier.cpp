// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/DirectNotifier.h"

#include <QEvent>

namespace postlark {

DirectNotifier::DirectNotifier(Type type, std::function<void()> handler)
    : QSocketNotifier(type), handler_(std::move(handler)) {}

bool DirectNotifier::event(QEvent* event) {
    if (event->type() == QEvent::SockAct || event->type() == QEvent::SockClose) {
        handler_();
        return true;
    }
    return QSocketNotifier::event(event);
}

} // namespace postlark
