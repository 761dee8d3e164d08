// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/WinInet.h"

#include "platform/base/LastError.h"
#include "platform/net/UrlFetch.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

namespace postlark::win {

namespace {

struct Session {
    std::string agent;
    UrlFetchRequest::Proxy proxy = UrlFetchRequest::Proxy::Configured;
    std::string proxyName;
};

struct State {
    std::map<HINTERNET, Session> sessions;
    std::map<HINTERNET, std::string> urls; // handle -> status line
    HINTERNET nextHandle = 0x100;
    std::string lastResponse;
    DWORD lastResponseError = 0;
    std::chrono::milliseconds limit{10000};
    ConnectedStateSource source;
    std::string caFile;
};

State& S() {
    static State state;
    return state;
}

} // namespace

BOOL InternetGetConnectedState(DWORD* lpdwFlags, DWORD) {
    DWORD flags = 0;
    BOOL result = FALSE_;
    if (S().source) {
        result = S().source(&flags);
    } else {
        flags = CurrentConnectionFlags();
        result = (flags & (INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN)) ? TRUE_ : FALSE_;
    }
    if (lpdwFlags)
        *lpdwFlags = flags;
    return result;
}

BOOL InternetAutodial(DWORD, HWND) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE_;
}

BOOL InternetAutodialHangup(DWORD) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE_;
}

HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                        const char*, DWORD) {
    Session session;
    session.agent = lpszAgent ? lpszAgent : "";
    switch (dwAccessType) {
    case INTERNET_OPEN_TYPE_PRECONFIG:
        session.proxy = UrlFetchRequest::Proxy::Configured;
        break;
    case INTERNET_OPEN_TYPE_DIRECT:
        session.proxy = UrlFetchRequest::Proxy::Direct;
        break;
    case INTERNET_OPEN_TYPE_PROXY:
        if (!lpszProxy || !*lpszProxy) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        session.proxy = UrlFetchRequest::Proxy::Named;
        session.proxyName = lpszProxy;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const HINTERNET handle = S().nextHandle++;
    S().sessions.emplace(handle, std::move(session));
    return handle;
}

HINTERNET InternetOpenUrlA(HINTERNET hInternet, const char* lpszUrl, const char* lpszHeaders,
                           DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR) {
    const auto session = S().sessions.find(hInternet);
    if (session == S().sessions.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    UrlFetchRequest request;
    request.url = lpszUrl ? lpszUrl : "";
    request.userAgent = session->second.agent;
    request.proxy = session->second.proxy;
    request.proxyName = session->second.proxyName;
    request.limit = S().limit;
    request.caFile = S().caFile;
    if (lpszHeaders) {
        // A length of all bits set means "up to the terminating zero".
        request.headers = dwHeadersLength == 0xFFFFFFFF || dwHeadersLength == 0
                              ? std::string(lpszHeaders)
                              : std::string(lpszHeaders, dwHeadersLength);
    }
    if (dwFlags & INTERNET_FLAG_RELOAD) {
        // Caches on the way (proxies) must go to the origin server too.
        request.headers += "\r\nCache-Control: no-cache\r\nPragma: no-cache";
    }

    // The session may be closed by a handler that runs while the request waits; the request
    // works on its own copy.
    const UrlFetchResult result = FetchStatusLine(request);
    S().lastResponse = result.answered ? result.statusLine : result.errorText;
    S().lastResponseError = result.errorCode;
    if (!result.answered) {
        SetLastError(result.errorCode);
        return 0;
    }
    const HINTERNET handle = S().nextHandle++;
    S().urls.emplace(handle, result.statusLine);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL InternetCloseHandle(HINTERNET hInternet) {
    if (S().sessions.erase(hInternet) || S().urls.erase(hInternet))
        return TRUE_;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE_;
}

BOOL InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer, DWORD* lpdwBufferLength) {
    if (!lpdwBufferLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE_;
    }
    const std::string& text = S().lastResponse;
    if (lpdwError)
        *lpdwError = S().lastResponseError;
    if (text.empty()) {
        if (lpszBuffer && *lpdwBufferLength > 0)
            lpszBuffer[0] = '\0';
        *lpdwBufferLength = 0;
        return TRUE_;
    }
    const DWORD needed = DWORD(text.size()) + 1;
    if (!lpszBuffer || *lpdwBufferLength < needed) {
        *lpdwBufferLength = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE_;
    }
    std::memcpy(lpszBuffer, text.data(), text.size());
    lpszBuffer[text.size()] = '\0';
    *lpdwBufferLength = DWORD(text.size());
    return TRUE_;
}

void SetInternetRequestLimit(std::chrono::milliseconds limit) {
    S().limit = std::max(limit, std::chrono::milliseconds(1));
}

std::chrono::milliseconds InternetRequestLimit() {
    return S().limit;
}

void SetConnectedStateSource(ConnectedStateSource source) {
    S().source = std::move(source);
}

void SetInternetCaFile(std::string path) {
    S().caFile = std::move(path);
}

void ForgetLastInternetResponse() {
    S().lastResponse.clear();
    S().lastResponseError = 0;
}

} // namespace postlark::win
