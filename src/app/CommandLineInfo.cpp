// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/CommandLineInfo.h"

#include <string_view>

namespace postlark {

namespace {

constexpr std::string_view kHelp =
    "Usage: postlark [/registrystart | FILE.pls]\n"
    "       postlark --help | --version\n"
    "\n"
    "Postlark checks POP3 and IMAP mailboxes and tells you when new mail is waiting;\n"
    "IMAP accounts can also be watched by push (IDLE), which tells of new mail at once.\n"
    "\n"
    "  (no argument)   open the window, or start hidden when Minimize on Startup is set\n"
    "  /registrystart  start hidden in the notification area\n"
    "  FILE.pls        restore the accounts saved in the backup file FILE.pls\n"
    "  --help          print this text and exit\n"
    "  --version       print the version and exit\n"
    "\n"
    "Settings and accounts: $XDG_CONFIG_HOME/Postlark/settings.ini (default ~/.config).\n"
    "See postlark(1) for the server-field forms.\n";

} // namespace

std::optional<int> AnswerInfoSwitch(int argc, const char* const argv[], std::ostream& out) {
    // Only a lone switch is answered: "--help" next to other words keeps its old meaning.
    if (argc != 2)
        return std::nullopt;
    const std::string_view word = argv[1];
    if (word == "--version")
        out << "Postlark " POSTLARK_VERSION "\n";
    else if (word == "--help")
        out << kHelp;
    else
        return std::nullopt;
    out.flush();
    return out ? 0 : 1; // a full disk or closed pipe is not a success
}

} // namespace postlark
