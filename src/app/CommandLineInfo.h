// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two informational switches a Linux program answers on the terminal.
#include <optional>
#include <ostream>

namespace postlark {

// When the command line is exactly "--help" or "--version", writes the answer to out and
// returns the exit status (0, or 1 when the answer could not be written); for any other command
// line returns nothing and writes nothing. Runs before the application object exists, so it needs
// no display and reads no settings.
std::optional<int> AnswerInfoSwitch(int argc, const char* const argv[], std::ostream& out);

} // namespace postlark
