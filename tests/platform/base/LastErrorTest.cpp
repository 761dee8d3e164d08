// SPDX-License-Identifier: GPL-3.0-or-later
// The last error belongs to the thread that set it, as the platform calls report it.
#include "platform/base/LastError.h"

#include <gtest/gtest.h>
#include <thread>

using namespace postlark::win;

TEST(LastError, EachThreadKeepsItsOwn) {
    SetLastError(ERROR_INVALID_PARAMETER);
    DWORD fresh = 1;
    DWORD seenByOther = 0;
    std::thread other([&] {
        fresh = GetLastError();
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        seenByOther = GetLastError();
    });
    other.join();
    EXPECT_EQ(fresh, ERROR_SUCCESS);
    EXPECT_EQ(seenByOther, ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}
