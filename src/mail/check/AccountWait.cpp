// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/check/AccountWait.h"

#include "platform/net/Winsock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

namespace postlark {

namespace {

bool Finished(int state) {
    return state == Winsock::sckClosed || state == Winsock::sckError;
}

} // namespace

void WaitWhileConnected(Winsock& socket) {
    // Each pass sleeps until something happens and handles all of it; the state is looked at
    // after every pass. Unlike a nested QEventLoop, ending the wait needs no signal connection
    // and no wake-up of the dispatcher, which cost a system call or two per account.
    const QPointer<Winsock> guard(&socket);
    while (guard && !Finished(guard->State()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

} // namespace postlark
