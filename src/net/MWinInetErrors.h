// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The text for a failed Internet API call: the server's last response when there is one,
// else "Error Code " with the code and " not defined.".
#include <QString>
#include <cstdint>

namespace postlark {

QString WinInetErrorText(std::int32_t ErrorCode);

} // namespace postlark
