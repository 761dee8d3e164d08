// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Internet API calls the connection probe uses, with their Win32 names and contracts:
// the connected state (from the routing tables, see RouteTable.h), autodial and hang-up
// (Linux has no autodial facility: both fail with ERROR_NOT_SUPPORTED), and opening a URL
// (a real uncached HTTP(S) GET through libcurl, honouring the configured proxy and verifying
// certificates). Each URL request has a time limit and waits in a nested event loop, so the
// window stays responsive while the network takes its time.
#include "platform/base/Win32Types.h"
#include "platform/net/RouteTable.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace postlark::win {

using HINTERNET = std::intptr_t;
using DWORD_PTR = std::uintptr_t;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr DWORD INTERNET_OPEN_TYPE_PROXY = 3;

constexpr DWORD INTERNET_FLAG_RELOAD = 0x80000000;
constexpr DWORD INTERNET_FLAG_NO_CACHE_WRITE = 0x04000000;
constexpr DWORD INTERNET_FLAG_KEEP_CONNECTION = 0x00400000;

constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INTERNET_TIMEOUT = 12002;
constexpr DWORD ERROR_INTERNET_CANNOT_CONNECT = 12029;

// Flags: the connection kinds (INTERNET_CONNECTION_*). Returns TRUE when a default route
// exists (a modem or LAN connection); the flags may hold PROXY even when it returns FALSE.
BOOL InternetGetConnectedState(DWORD* lpdwFlags, DWORD dwReserved);
// No autodial facility: FALSE, last error ERROR_NOT_SUPPORTED.
BOOL InternetAutodial(DWORD dwFlags, HWND hwndParent);
BOOL InternetAutodialHangup(DWORD dwReserved);

// A session handle; 0 (with the last error) for an unknown access type.
HINTERNET InternetOpenA(const char* lpszAgent, DWORD dwAccessType, const char* lpszProxy,
                        const char* lpszProxyBypass, DWORD dwFlags);
// Requests the address and returns a handle when the server answered with any HTTP status
// line; otherwise 0 with the last error set (ERROR_INTERNET_TIMEOUT after the time limit).
// Pages are never read from or written to a cache. Events are handled while it waits.
HINTERNET InternetOpenUrlA(HINTERNET hInternet, const char* lpszUrl, const char* lpszHeaders,
                           DWORD dwHeadersLength, DWORD dwFlags, DWORD_PTR dwContext);
BOOL InternetCloseHandle(HINTERNET hInternet);
// The status line of the last HTTP response, or the transport's error text when the last
// request got none. *lpdwBufferLength holds the buffer's size on entry; on success the text's
// length (0 when there was no request yet) and the text is zero-terminated; when the buffer
// is too small, FALSE with ERROR_INSUFFICIENT_BUFFER and the size needed (terminator
// included). *lpdwError receives the last request's error code (0 when it was answered).
BOOL InternetGetLastResponseInfoA(DWORD* lpdwError, char* lpszBuffer, DWORD* lpdwBufferLength);

// The time limit of each URL request (10 seconds unless a test sets another).
void SetInternetRequestLimit(std::chrono::milliseconds limit);
std::chrono::milliseconds InternetRequestLimit();

// Replaces the routing-table reading of InternetGetConnectedState (for tests); an empty
// function restores it.
using ConnectedStateSource = std::function<BOOL(DWORD* flags)>;
void SetConnectedStateSource(ConnectedStateSource source);
// Trusts the authorities in this file instead of the system's (for tests); empty restores.
void SetInternetCaFile(std::string path);
// Forgets the last response, as if no request had been made yet (for tests).
void ForgetLastInternetResponse();

} // namespace postlark::win
