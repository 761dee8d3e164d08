// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's optional libraries (TLS, the desktop's keyring, the OAuth2 sign-in) are loaded
// when first needed, so that a program that needs none of them never maps them and the
// libraries behind them. Each exports one entry point that returns its table of calls.
#include <QString>

namespace postlark {

// The address of `entry` in the library `fileName`, looked for in the program's own library
// folder (installed) and then at `buildPath` (tests and benchmarks run from the build tree);
// null, with the reason in `why`, when neither can be loaded. The library stays loaded.
void* LoadModuleEntry(const char* fileName, const char* buildPath, const char* entry, QString* why);

} // namespace postlark
