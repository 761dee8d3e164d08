// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/UrlFetch.h"

#include "platform/net/NetModule.h"

#include <QEventLoop>
#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdlib>
#include <curl/curl.h>
#include <dlfcn.h>
#include <map>

namespace postlark::win {

namespace {

// Internet API error codes for the transport's failures.
constexpr std::uint32_t kTimeout = 12002;
constexpr std::uint32_t kInternalError = 12004;
constexpr std::uint32_t kInvalidUrl = 12005;
constexpr std::uint32_t kUnrecognizedScheme = 12006;
constexpr std::uint32_t kNameNotResolved = 12007;
constexpr std::uint32_t kOperationCancelled = 12017;
constexpr std::uint32_t kConnectionAborted = 12030;
constexpr std::uint32_t kConnectionReset = 12031;
constexpr std::uint32_t kCannotConnect = 12029;
constexpr std::uint32_t kInvalidCa = 12045;
constexpr std::uint32_t kInvalidServerResponse = 12152;
constexpr std::uint32_t kSecurityChannelError = 12157;

std::uint32_t ErrorCode(CURLcode code) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return kTimeout;
    case CURLE_URL_MALFORMAT:
        return kInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return kUnrecognizedScheme;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return kNameNotResolved;
    case CURLE_COULDNT_CONNECT:
        return kCannotConnect;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
        return kConnectionAborted;
    case CURLE_RECV_ERROR:
        return kConnectionReset;
    case CURLE_PEER_FAILED_VERIFICATION:
        return kInvalidCa;
    case CURLE_SSL_CONNECT_ERROR:
        return kSecurityChannelError;
    case CURLE_WEIRD_SERVER_REPLY:
        return kInvalidServerResponse;
    default:
        return kInternalError;
    }
}

bool EnvironmentProxySet() {
    for (const char* name :
         {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"}) {
        const char* value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

// The desktop's proxy for the address as Qt reports it, as a proxy URL; empty for none.
std::string DesktopProxy(const std::string& url) {
    const NetModuleApi* module = NetModule();
    if (!module)
        return {};
    for (const DesktopProxyEntry& proxy : module->desktopProxies(QString::fromStdString(url))) {
        QUrl address;
        address.setScheme(proxy.socks ? QStringLiteral("socks5h") : QStringLiteral("http"));
        address.setHost(proxy.host);
        address.setPort(proxy.port);
        address.setUserName(proxy.user);
        address.setPassword(proxy.password);
        return address.toString(QUrl::FullyEncoded).toStdString();
    }
    return {};
}

// libcurl, loaded when the first request is made rather than at start-up: it brings the TLS
// libraries with it, which a program that only checks plain POP3 never needs in memory.
class CurlApi {
public:
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_multi_add_handle) multi_add_handle = nullptr;
    decltype(&::curl_multi_cleanup) multi_cleanup = nullptr;
    decltype(&::curl_multi_info_read) multi_info_read = nullptr;
    decltype(&::curl_multi_init) multi_init = nullptr;
    decltype(&::curl_multi_remove_handle) multi_remove_handle = nullptr;
    decltype(&::curl_multi_setopt) multi_setopt = nullptr;
    decltype(&::curl_multi_socket_action) multi_socket_action = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;

    // Empty when every function was found; otherwise why libcurl cannot be used.
    std::string problem;

    CurlApi() {
        library_ = ::dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!library_) {
            problem = std::string("libcurl could not be loaded: ") + ::dlerror();
            return;
        }
        Load(easy_cleanup, "curl_easy_cleanup");
        Load(easy_init, "curl_easy_init");
        Load(easy_setopt, "curl_easy_setopt");
        Load(easy_strerror, "curl_easy_strerror");
        Load(global_init, "curl_global_init");
        Load(multi_add_handle, "curl_multi_add_handle");
        Load(multi_cleanup, "curl_multi_cleanup");
        Load(multi_info_read, "curl_multi_info_read");
        Load(multi_init, "curl_multi_init");
        Load(multi_remove_handle, "curl_multi_remove_handle");
        Load(multi_setopt, "curl_multi_setopt");
        Load(multi_socket_action, "curl_multi_socket_action");
        Load(slist_append, "curl_slist_append");
        Load(slist_free_all, "curl_slist_free_all");
        if (problem.empty())
            global_init(CURL_GLOBAL_DEFAULT);
    }

private:
    template <typename Function> void Load(Function& function, const char* name) {
        function = reinterpret_cast<Function>(::dlsym(library_, name));
        if (!function && problem.empty())
            problem = std::string("libcurl lacks ") + name;
    }

    void* library_ = nullptr;
};

const CurlApi& Curl() {
    static const CurlApi api;
    return api;
}

// One transfer on a multi handle driven by the Qt event loop: curl says which sockets to
// watch and when to call it back; socket notifiers and a timer do the watching.
class Transfer : public QObject {
public:
    explicit Transfer(const UrlFetchRequest& request) {
        multi_ = Curl().multi_init();
        easy_ = Curl().easy_init();
        Curl().multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &Transfer::OnSocket);
        Curl().multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
        Curl().multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &Transfer::OnTimer);
        Curl().multi_setopt(multi_, CURLMOPT_TIMERDATA, this);

        Curl().easy_setopt(easy_, CURLOPT_URL, request.url.c_str());
        Curl().easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
        Curl().easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
        Curl().easy_setopt(easy_, CURLOPT_USERAGENT, request.userAgent.c_str());
        Curl().easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
        Curl().easy_setopt(easy_, CURLOPT_TIMEOUT_MS, long(request.limit.count()));
        Curl().easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
        Curl().easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
        Curl().easy_setopt(easy_, CURLOPT_HEADERDATA, this);
        Curl().easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
        Curl().easy_setopt(easy_, CURLOPT_WRITEDATA, this);
        // Certificates and host names are verified (curl's default, stated for the reader).
        Curl().easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
        Curl().easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
        // A proxy's reply to CONNECT is not the site's answer.
        Curl().easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        if (!request.caFile.empty())
            Curl().easy_setopt(easy_, CURLOPT_CAINFO, request.caFile.c_str());

        switch (request.proxy) {
        case UrlFetchRequest::Proxy::Configured:
            // curl itself honours http_proxy, https_proxy, all_proxy and no_proxy.
            if (!EnvironmentProxySet())
                proxy_ = DesktopProxy(request.url);
            if (!proxy_.empty())
                Curl().easy_setopt(easy_, CURLOPT_PROXY, proxy_.c_str());
            break;
        case UrlFetchRequest::Proxy::Direct:
            Curl().easy_setopt(easy_, CURLOPT_PROXY, "");
            break;
        case UrlFetchRequest::Proxy::Named:
            proxy_ = request.proxyName;
            Curl().easy_setopt(easy_, CURLOPT_PROXY, proxy_.c_str());
            break;
        }

        std::string_view headers = request.headers;
        while (!headers.empty()) {
            const size_t end = headers.find("\r\n");
            const std::string line(headers.substr(0, end));
            if (!line.empty())
                headerList_ = Curl().slist_append(headerList_, line.c_str());
            headers.remove_prefix(end == std::string_view::npos ? headers.size() : end + 2);
        }
        if (headerList_)
            Curl().easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);

        curlTimer_.setSingleShot(true);
        connect(&curlTimer_, &QTimer::timeout, this, [this] { Act(CURL_SOCKET_TIMEOUT, 0); });
        // curl keeps its own limit; this one only guards against a transfer that never ends.
        limitTimer_.setSingleShot(true);
        limitTimer_.setInterval(int(request.limit.count()) + 2000);
        connect(&limitTimer_, &QTimer::timeout, this, [this] { Finish(CURLE_OPERATION_TIMEDOUT); });
    }

    ~Transfer() override {
        Curl().multi_remove_handle(multi_, easy_);
        Curl().easy_cleanup(easy_);
        Curl().multi_cleanup(multi_);
        Curl().slist_free_all(headerList_);
    }

    UrlFetchResult Run() {
        UrlFetchResult result;
        limitTimer_.start();
        Curl().multi_add_handle(multi_, easy_); // asks for a timer call at once
        if (!finished_)
            loop_.exec();
        if (!finished_) {
            // The application is quitting: every event loop was told to end.
            result.errorCode = kOperationCancelled;
            result.errorText = "The operation was cancelled";
            return result;
        }
        if (!statusLine_.empty()) {
            result.answered = true;
            result.statusLine = statusLine_;
            return result;
        }
        result.errorCode = ErrorCode(code_);
        result.errorText = errorBuffer_[0] ? errorBuffer_ : Curl().easy_strerror(code_);
        return result;
    }

private:
    static int OnSocket(CURL*, curl_socket_t s, int what, void* self, void*) {
        static_cast<Transfer*>(self)->Watch(s, what);
        return 0;
    }
    static int OnTimer(CURLM*, long ms, void* self) {
        auto* t = static_cast<Transfer*>(self);
        if (ms < 0)
            t->curlTimer_.stop();
        else
            t->curlTimer_.start(int(ms)); // curl must not be called back from inside here
        return 0;
    }
    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        auto* t = static_cast<Transfer*>(self);
        std::string line(data, size * count);
        // The line ends at its first CR or LF: a bare CR inside what the transport hands over
        // as one header line must not carry the rest into the response text.
        line.resize(std::min(line.find_first_of("\r\n"), line.size()));
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        if (!line.starts_with("HTTP/"))
            return size * count;
        t->statusLine_ = line;
        // An interim (1xx) response is followed by the real one; any other status line is the
        // answer, and the rest of the response is not needed.
        const size_t space = line.find(' ');
        const bool interim =
            space != std::string::npos && line.size() > space + 1 && line[space + 1] == '1';
        return interim ? size * count : 0;
    }
    static size_t OnBody(char*, size_t, size_t, void*) {
        return 0; // only the status line is wanted
    }

    void Watch(curl_socket_t s, int what) {
        if (what == CURL_POLL_REMOVE) {
            auto it = notifiers_.find(s);
            if (it == notifiers_.end())
                return;
            for (QSocketNotifier* n : {it->second.first, it->second.second})
                if (n) {
                    // May be the notifier whose signal is running now: retire it later.
                    n->setEnabled(false);
                    n->deleteLater();
                }
            notifiers_.erase(it);
            return;
        }
        auto& [reader, writer] = notifiers_[s];
        auto want = [&](QSocketNotifier*& n, QSocketNotifier::Type type, bool on, int event) {
            if (on && !n) {
                n = new QSocketNotifier(qintptr(s), type, this);
                connect(n, &QSocketNotifier::activated, this, [this, s, event] { Act(s, event); });
            }
            if (n)
                n->setEnabled(on);
        };
        want(reader, QSocketNotifier::Read, what & CURL_POLL_IN, CURL_CSELECT_IN);
        want(writer, QSocketNotifier::Write, what & CURL_POLL_OUT, CURL_CSELECT_OUT);
    }

    void Act(curl_socket_t s, int event) {
        if (finished_)
            return;
        int running = 0;
        Curl().multi_socket_action(multi_, s, event, &running);
        int left = 0;
        while (CURLMsg* msg = Curl().multi_info_read(multi_, &left))
            if (msg->msg == CURLMSG_DONE)
                Finish(msg->data.result);
    }

    void Finish(CURLcode code) {
        if (finished_)
            return;
        finished_ = true;
        code_ = code;
        curlTimer_.stop();
        limitTimer_.stop();
        loop_.quit();
    }

    CURLM* multi_ = nullptr;
    CURL* easy_ = nullptr;
    curl_slist* headerList_ = nullptr;
    std::string proxy_;
    QEventLoop loop_;
    QTimer curlTimer_;
    QTimer limitTimer_;
    std::map<curl_socket_t, std::pair<QSocketNotifier*, QSocketNotifier*>> notifiers_;
    bool finished_ = false;
    CURLcode code_ = CURLE_OK;
    std::string statusLine_;
    char errorBuffer_[CURL_ERROR_SIZE] = {};
};

} // namespace

UrlFetchResult FetchStatusLine(const UrlFetchRequest& request) {
    if (!Curl().problem.empty()) {
        UrlFetchResult result;
        result.errorCode = kInternalError;
        result.errorText = Curl().problem;
        return result;
    }
    Transfer transfer(request);
    return transfer.Run();
}

} // namespace postlark::win
