// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Is there a working Internet connection right now? Asks the operating system how the machine
// reaches the Internet and, for the kinds of connection where that answer alone is not
// trusted (a busy modem, a LAN, a proxy), proves it by opening one of a list of known pages.
// Every read refreshes first; nothing is cached between reads.
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

namespace postlark {

class CNetConnect {
public:
    // The list starts with the two default test sites.
    CNetConnect();
    ~CNetConnect();
    CNetConnect(const CNetConnect&) = delete;
    CNetConnect& operator=(const CNetConnect&) = delete;

    // The default test sites, in the order they are tried.
    static const QStringList& DefaultTestSites();

    // The test-site list itself: a caller may add or remove sites in place.
    QStringList& KnownTestSites() { return *sites_; }
    // Replaces the list with the one given (shared, not copied).
    void KnownTestSites(std::shared_ptr<QStringList> sites);

    // Each refreshes, then answers from the new state.
    bool Connected();
    std::int32_t ConnectMode();
    QString ConnectModeDesc();

    // Dials the default connection when there is none; true when the system dialled. The
    // flags go to the system unchanged.
    bool Dial(const std::int32_t& Flags);
    // Hangs up the automatically dialled connection; false when not connected.
    bool HangUp();

    // Re-reads the connection state. A page request waits with events handled, so the window
    // stays responsive; the caller still gets its answer when the call returns.
    void Refresh();

private:
    bool TestKnownSites();

    std::shared_ptr<QStringList> sites_;
    bool connected_ = false;
    std::int32_t mode_ = 0;
    QString modeDesc_;
};

} // namespace postlark
