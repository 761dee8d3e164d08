// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/alerts/ShellExecuteMessages.h"

namespace postlark {

QString ShellExecuteMessages(std::intptr_t code, const QString& program) {
    const char* text = nullptr;
    switch (code) {
    case 0:
        return "The operating system is out of memory or resources.";
    case 2:
        text = "The specified file was not found.  File: ";
        break;
    case 3:
        text = "The specified path was not found.  File: ";
        break;
    case 5:
        text = "The operating system denied access to the specified file.  File: ";
        break;
    case 8:
        text = "There was not enough memory to complete the operation.  File: ";
        break;
    case 11:
        text = "The .exe file is invalid (non-Win32\u00ae .exe or error in .exe image).  File: ";
        break;
    case 26:
        text = "A sharing violation occurred.  File: ";
        break;
    case 27:
        text = "The file name association is incomplete or invalid.  File: ";
        break;
    case 28:
        text = "The DDE transaction could not be completed because the request timed out.  File: ";
        break;
    case 29:
        text = "The DDE transaction failed.  File: ";
        break;
    case 30:
        text = "The DDE transaction could not be completed because other DDE transactions were "
               "being processed.  File: ";
        break;
    case 31:
        text = "There is no application associated with the given file name extension. This "
               "error will also be returned if you attempt to print a file that is not "
               "printable.  File: ";
        break;
    case 32:
        text = "The specified dynamic-link library was not found.  File: ";
        break;
    default:
        return QString();
    }
    return QString::fromUtf8(text) + program;
}

} // namespace postlark
