// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Processor time of this process.

namespace postlark::bench {

// User + system seconds of every thread of this process so far; child processes (such as a
// Dovecot server it started) are not included.
double ProcessorSeconds();

} // namespace postlark::bench
