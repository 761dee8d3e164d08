// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/CNetConnect.h"

#include "platform/net/WinInet.h"

#include <QUrl>

namespace postlark {

namespace {

// The application title, sent as the user agent.
const char* const kAgent = "Postlark";
constexpr win::DWORD kSiteFlags = win::INTERNET_FLAG_RELOAD | win::INTERNET_FLAG_NO_CACHE_WRITE |
                                  win::INTERNET_FLAG_KEEP_CONNECTION; // 0x84400000

// The address as the single-byte text the Internet API takes: host names in their ASCII form,
// other characters percent-encoded.
std::string UrlText(const QString& site) {
    const QUrl url(site, QUrl::TolerantMode);
    return (url.isValid() ? url.toEncoded() : site.toUtf8()).toStdString();
}

} // namespace

const QStringList& CNetConnect::DefaultTestSites() {
    // A large public web portal, then a public news service; both answer a plain GET over
    // HTTPS, so a network that intercepts web traffic (a hotel's log-in page) does not pass
    // for a connection.
    static const QStringList sites{"https://www.wikipedia.org/", "https://www.bbc.co.uk/"};
    return sites;
}

CNetConnect::CNetConnect() : sites_(std::make_shared<QStringList>(DefaultTestSites())) {}

CNetConnect::~CNetConnect() = default;

void CNetConnect::KnownTestSites(std::shared_ptr<QStringList> sites) {
    sites_ = sites ? std::move(sites) : std::make_shared<QStringList>();
}

bool CNetConnect::Connected() {
    Refresh();
    return connected_;
}

std::int32_t CNetConnect::ConnectMode() {
    Refresh();
    return mode_;
}

QString CNetConnect::ConnectModeDesc() {
    Refresh();
    return modeDesc_;
}

bool CNetConnect::Dial(const std::int32_t& Flags) {
    if (Connected())
        return false;
    return win::InternetAutodial(static_cast<win::DWORD>(Flags), 0) != 0;
}

bool CNetConnect::HangUp() {
    if (!Connected())
        return false;
    return win::InternetAutodialHangup(0) != 0;
}

void CNetConnect::Refresh() {
    win::DWORD flags = 0;
    const win::BOOL result = win::InternetGetConnectedState(&flags, 0);
    mode_ = static_cast<std::int32_t>(flags);
    connected_ = result != 0;

    if (flags & win::INTERNET_CONNECTION_MODEM) {
        modeDesc_ = "Modem";
        // A modem that is not busy is trusted as the system reports it.
        if (!(flags & win::INTERNET_CONNECTION_MODEM_BUSY))
            return;
        modeDesc_ = "Modem (Busy)";
    } else if (flags & win::INTERNET_CONNECTION_LAN) {
        modeDesc_ = "LAN";
    } else if (flags & win::INTERNET_CONNECTION_PROXY) {
        modeDesc_ = "Proxy Server";
    } else {
        return; // no known kind: the text stays as it was
    }
    connected_ = TestKnownSites();
}

bool CNetConnect::TestKnownSites() {
    const win::HINTERNET session =
        win::InternetOpenA(kAgent, win::INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (session == 0)
        return false;
    // Handlers run while a request waits and may change the list; go through it as it was.
    const QStringList sites = *sites_;
    bool result = false;
    for (const QString& site : sites) {
        const win::HINTERNET page =
            win::InternetOpenUrlA(session, UrlText(site).c_str(), nullptr, 0, kSiteFlags, 0);
        if (page != 0) {
            win::InternetCloseHandle(page);
            result = true;
            break;
        }
    }
    win::InternetCloseHandle(session);
    return result;
}

} // namespace postlark
