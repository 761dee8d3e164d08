// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A socket notifier that calls its handler straight from its event. A check wakes up several
// times per account, each time for one socket; the two signals QSocketNotifier emits for every
// activation cost more than the rest of the dispatch.
#include <QSocketNotifier>
#include <functional>

namespace postlark {

class DirectNotifier : public QSocketNotifier {
public:
    DirectNotifier(Type type, std::function<void()> handler);

protected:
    bool event(QEvent* event) override;

private:
    std::function<void()> handler_;
};

} // namespace postlark
