// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's mail program: the default handler of mailto: addresses (the
// x-scheme-handler/mailto association of the freedesktop MIME applications rules), started
// without an address so that it opens its mailbox rather than a new message.
#include <QString>

namespace postlark::win {

// Starts it; false, with the reason in `why`, when there is none or it cannot be started.
bool StartMailClient(QString* why = nullptr);

} // namespace postlark::win
