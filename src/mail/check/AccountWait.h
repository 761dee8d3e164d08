// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The wait of a check run for one account's dialogue to end.

namespace postlark {

class Winsock;

// Sleeps in the event dispatcher, handling every kind of event meanwhile, until the socket
// reads closed (0) or error (9). Each turn of the dispatcher clears a request to stop waiting,
// so a caller wakes the dispatcher once when its waits are over, for an event loop below it
// that was told to quit meanwhile.
void WaitWhileConnected(Winsock& socket);

} // namespace postlark
