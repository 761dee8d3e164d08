// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The calling thread's last-error value: a platform call that fails says why through it.
#include "platform/base/Win32Types.h"

namespace postlark::win {

DWORD GetLastError();
void SetLastError(DWORD error);

} // namespace postlark::win
