// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/MWinInetErrors.h"

#include "platform/base/LastError.h"
#include "platform/net/WinInet.h"

#include <algorithm>
#include <string>

namespace postlark {

namespace {

// Kept between calls: the response buffer, the length the last query reported, its result.
std::string responseBuffer;
win::DWORD responseLength = 0;
win::BOOL lastResult = 0;

win::BOOL QueryResponse(win::DWORD& code) {
    // Never offer more room than the buffer has.
    win::DWORD length = std::min<win::DWORD>(responseLength, win::DWORD(responseBuffer.size()));
    lastResult = win::InternetGetLastResponseInfoA(&code, responseBuffer.data(), &length);
    responseLength = length;
    return lastResult;
}

} // namespace

QString WinInetErrorText(std::int32_t ErrorCode) {
    const QString undefined = "Error Code " + QString::number(ErrorCode) + " not defined.";
    win::DWORD code = static_cast<win::DWORD>(ErrorCode);
    win::BOOL result = QueryResponse(code);
    if (result == 0 && win::GetLastError() == win::ERROR_INSUFFICIENT_BUFFER) {
        responseBuffer.assign(responseLength, ' ');
        result = QueryResponse(code);
    }
    if (result != 0 && responseLength != 0)
        return QString::fromLatin1(responseBuffer.data(), int(responseLength));
    return undefined;
}

} // namespace postlark
