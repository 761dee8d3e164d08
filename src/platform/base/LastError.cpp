// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/base/LastError.h"

namespace postlark::win {

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
} // namespace

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}

} // namespace postlark::win
