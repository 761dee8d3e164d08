// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The new-mail alerts, each as the user's settings choose: launch the accounts' programs,
// flash the tray icon, play the new-mail sound, bring the window forward, show a message;
// besides those, a desktop notification and the number of new messages on the tray icon.
#include <cstdint>
#include <string>
#include <vector>

namespace postlark {

class AlertTarget;

// `results` holds the check result of each account (1 = new mail), `counts` its message count
// as the server gave it.
void GotMail(AlertTarget& target, const std::vector<std::int16_t>& results,
             const std::vector<std::string>& counts);

// The alerts after push results: those of GotMail for the accounts whose result is 1 (their
// count went up), without the status bar, which tells of checks only. The tray count and the
// notification cover every account's waiting mail, `waiting` by account (the row's count; text
// that is not a number above 0 is none).
void PushGotMail(AlertTarget& target, const std::vector<std::int16_t>& rose,
                 const std::vector<std::string>& waiting);

// The notification's "Open": the programs of the accounts with mail `waiting` (by account, as
// PushGotMail takes it), as the launch alert starts them; when none of them has a program, the
// desktop's mail program. A failure is told in a message box.
void OpenMail(AlertTarget& target, const std::vector<std::string>& waiting);

// The total of `waiting`, counted as PushGotMail counts it.
int WaitingTotal(const std::vector<std::string>& waiting);

// The total of the message counts of the accounts with new mail (counts that are not numbers
// add nothing).
int NewMessageTotal(const std::vector<std::int16_t>& results,
                    const std::vector<std::string>& counts);

} // namespace postlark
