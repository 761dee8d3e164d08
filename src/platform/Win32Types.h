#pragma once
// Win32-shaped handle, message and parameter types used by the window layer.
// Windows are Qt widgets registered with the layer; an HWND is the layer's handle for one.
#include <cstdint>

namespace postlark::win {

using HWND = std::intptr_t;
using HANDLE = std::intptr_t;
using HMENU = std::intptr_t;
using HICON = std::intptr_t;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LONG_PTR = std::intptr_t;
using BOOL = std::int32_t;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr BOOL TRUE_ = 1;
constexpr BOOL FALSE_ = 0;

// Messages used by the program.
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT WM_RBUTTONDOWN = 0x0204;
constexpr UINT WM_RBUTTONUP = 0x0205;

} // namespace postlark::win
