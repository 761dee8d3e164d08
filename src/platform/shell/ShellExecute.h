// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// ShellExecuteA's "open" operation on the Linux desktop. It returns at once and never waits
// for what it started; a result above 32 means success, 32 or less is the shell's error code.
//
// What "file" may be, and what happens:
// - a text with a URL scheme of two or more letters (http:, https:, mailto:, ftp: ...): the
//   desktop's default handler (QDesktopServices, or xdg-open when the platform plugin offers no
//   desktop services); no handler -> 31. A file: URL is treated as the local path it names.
// - a host name beginning "www." or "ftp." that is not an existing file: opened as an
//   http:// or ftp:// address, as the shell does; one that makes no valid address -> 2.
// - a path: absolute; relative to `directory` (the current folder when it is empty); or a bare
//   name, looked up on PATH first like a shell does, then in that folder.
//     missing, and its folder missing too          -> 3  SE_ERR_PNF
//     missing                                      -> 2  SE_ERR_FNF
//     `directory` given but not a folder           -> 3  SE_ERR_PNF
//     not readable (and not executable)            -> 5  SE_ERR_ACCESSDENIED
//     executable regular file                      -> started directly and detached, with
//                                                     `parameters` split like a command line
//                                                     and `directory` as working folder
//     a directory, a document, or an executable bit on a file that is no program
//                                                  -> its MIME type (QMimeDatabase) must have
//                                                     a default application (xdg-mime query
//                                                     default, the type or a parent type);
//                                                     none -> 31; else xdg-open, detached
// - empty text -> 2. An operation other than "open" -> 31 (an empty one means "open").
// Start failures map the failing call's errno: EACCES/EPERM -> 5, ENOENT (a missing
// interpreter) -> 2, ETXTBSY (file being written) -> 26, ENOMEM -> 8, fork failure and
// anything else -> 0 (out of resources).
// The owner window and show state have no counterpart here and are ignored.
#include "platform/base/Win32Types.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace postlark::win {

constexpr std::intptr_t SE_ERR_FNF = 2;
constexpr std::intptr_t SE_ERR_PNF = 3;
constexpr std::intptr_t SE_ERR_ACCESSDENIED = 5;
constexpr std::intptr_t SE_ERR_OOM = 8;
constexpr std::intptr_t SE_ERR_SHARE = 26;
constexpr std::intptr_t SE_ERR_NOASSOC = 31;
// What a successful call returns; callers only test for "above 32".
constexpr std::intptr_t SE_STARTED = 42;

std::intptr_t ShellExecuteA(HWND hwnd, const QString& operation, const QString& file,
                            const QString& parameters, const QString& directory, int showCmd);

// --- For diagnostics and tests ---

// A log of ShellExecuteA calls with the arguments as passed and the answer. Turning the log
// on empties it.
struct ShellExecuteCall {
    HWND hwnd;
    QString operation;
    QString file;
    QString parameters;
    QString directory;
    int showCmd;
    std::intptr_t result;
};
void SetShellExecuteLogging(bool on);
const std::vector<ShellExecuteCall>& ShellExecuteLog();

} // namespace postlark::win
