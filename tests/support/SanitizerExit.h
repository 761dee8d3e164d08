// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The exit code of a program stopped by a sanitizer report in the sanitized build, distinct
// from every exit code the programs and tests use themselves.
namespace postlark::test {

inline constexpr int kSanitizerExitCode = 86;

} // namespace postlark::test
