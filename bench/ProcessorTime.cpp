// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProcessorTime.h"

#include <sys/resource.h>

namespace postlark::bench {

double ProcessorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace postlark::bench
