// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the user is told when the shell cannot open an account's program.
#include <QString>
#include <cstdint>

namespace postlark {

// The message for a shell result code followed by the program text (code 0: the message
// alone); empty for success and for codes without a message.
QString ShellExecuteMessages(std::intptr_t code, const QString& program);

} // namespace postlark
