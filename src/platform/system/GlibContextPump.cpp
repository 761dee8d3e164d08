// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/GlibContextPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <glib.h>

#include <map>
#include <set>
#include <vector>

namespace postlark {

namespace {

// The main thread's one pump; it turns the context while at least one GlibContextPump is held.
struct Pump {
    int holders = 0;
    // While the main thread owns the context, a source attached from another thread (a reply
    // arriving on GDBus's worker thread) signals the context's wake-up descriptor, which is
    // watched; an unowned context would not be woken.
    bool owned = false;
    bool turning = false;
    QObject owner; // parent of the notifiers and the timer
    QTimer* timer = nullptr;
    std::map<std::pair<int, QSocketNotifier::Type>, QSocketNotifier*> watches; // on or off
    QMetaObject::Connection beforeSleep;
};

Pump* pump = nullptr;

void Turn();

void Stop() {
    QObject::disconnect(pump->beforeSleep);
    for (const auto& [watch, notifier] : pump->watches)
        notifier->setEnabled(false);
    pump->timer->stop();
    if (pump->owned)
        g_main_context_release(g_main_context_default());
    pump->owned = false;
}

// Watches exactly the descriptors the context asked to be polled. Notifiers are switched off
// rather than deleted, and switched on again when their descriptor is asked for again: one may
// be the notifier whose signal runs this turn, and a deferred deletion would wake the
// dispatcher again.
void WatchOnly(const std::vector<GPollFD>& fds) {
    std::set<std::pair<int, QSocketNotifier::Type>> wanted;
    for (const GPollFD& fd : fds) {
        if (fd.events & (G_IO_IN | G_IO_HUP | G_IO_ERR))
            wanted.insert({fd.fd, QSocketNotifier::Read});
        if (fd.events & G_IO_OUT)
            wanted.insert({fd.fd, QSocketNotifier::Write});
        if (fd.events & G_IO_PRI)
            wanted.insert({fd.fd, QSocketNotifier::Exception});
    }
    for (const auto& [watch, notifier] : pump->watches)
        notifier->setEnabled(wanted.count(watch) != 0);
    for (const auto& watch : wanted) {
        if (pump->watches.count(watch))
            continue;
        auto* notifier = new QSocketNotifier(watch.first, watch.second, &pump->owner);
        QObject::connect(notifier, &QSocketNotifier::activated, &pump->owner, [] { Turn(); });
        pump->watches[watch] = notifier;
    }
}

// Dispatches what is ready, as g_main_context_iteration does without blocking, until nothing
// is; then watches the descriptors and the time-out that the context asks to be polled with.
// It runs whenever Qt's dispatcher is about to sleep, so sources that this thread attached
// meanwhile (which wake nobody) are seen before it sleeps.
void Turn() {
    if (pump->turning)
        return; // a source's callback ran an event loop: the outer turn goes on afterwards
    if (pump->holders == 0)
        return Stop();
    GMainContext* context = g_main_context_default();
    if (!pump->owned && !(pump->owned = g_main_context_acquire(context))) {
        pump->timer->start(50); // another thread runs it: look again soon
        return;
    }
    pump->turning = true;
    std::vector<GPollFD> fds(8);
    gint count = 0;
    gint timeout = -1;
    for (int round = 0;; ++round) {
        gint priority = 0;
        g_main_context_prepare(context, &priority);
        const auto room = [&] { return static_cast<gint>(fds.size()); };
        while ((count = g_main_context_query(context, priority, &timeout, fds.data(), room())) >
               room())
            fds.resize(static_cast<std::size_t>(count));
        g_poll(fds.data(), static_cast<guint>(count), 0);
        if (!g_main_context_check(context, priority, fds.data(), count))
            break;
        g_main_context_dispatch(context);
        if (round == 100) { // a source that stays ready: let Qt's events in between
            timeout = 0;
            break;
        }
    }
    pump->turning = false;
    if (pump->holders == 0)
        return Stop();
    fds.resize(static_cast<std::size_t>(count));
    WatchOnly(fds);
    if (timeout >= 0)
        pump->timer->start(timeout);
    else
        pump->timer->stop();
}

// Whether the calling thread's dispatcher leaves GLib's default context unturned.
bool ContextNeedsTurning() {
    const QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    return dispatcher && !dispatcher->inherits("QEventDispatcherGlib") &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

} // namespace

GlibContextPump::GlibContextPump() {
    if (!pump) {
        if (!ContextNeedsTurning())
            return;
        pump = new Pump;
        pump->timer = new QTimer(&pump->owner);
        pump->timer->setSingleShot(true);
        QObject::connect(pump->timer, &QTimer::timeout, &pump->owner, [] { Turn(); });
    }
    held_ = true;
    if (pump->holders++ == 0)
        pump->beforeSleep =
            QObject::connect(QAbstractEventDispatcher::instance(),
                             &QAbstractEventDispatcher::aboutToBlock, &pump->owner, [] { Turn(); });
}

GlibContextPump::~GlibContextPump() {
    if (held_ && --pump->holders == 0 && !pump->turning)
        Stop();
}

} // namespace postlark
