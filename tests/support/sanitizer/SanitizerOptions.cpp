// SPDX-License-Identifier: GPL-3.0-or-later
// Built-in sanitizer options of every program in the sanitized build: stop at the first report
// with a distinct exit code, so a test sees a failure in any program it starts, and check for
// leaks at exit with the project's suppressions. The environment variables still override.
#include "support/SanitizerExit.h"

// The option strings are literals; this keeps them in step with the shared constant.
#define POSTLARK_EXIT_CODE "exitcode=86"
static_assert(postlark::test::kSanitizerExitCode == 86, "update POSTLARK_EXIT_CODE");

extern "C" {

const char* __asan_default_options() {
    return "halt_on_error=1:detect_leaks=1:" POSTLARK_EXIT_CODE;
}

const char* __lsan_default_options() {
    return "suppressions=" POSTLARK_LEAK_SUPPRESSIONS ":print_suppressions=0:" POSTLARK_EXIT_CODE;
}

const char* __ubsan_default_options() {
    return "halt_on_error=1:print_stacktrace=1:" POSTLARK_EXIT_CODE;
}

} // extern "C"
