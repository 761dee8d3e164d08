// SPDX-License-Identifier: GPL-3.0-or-later
// Helper program for the sanitizer wiring test: commits one kind of fault on request.
//   sanitizer_canary clean | leak | overflow | undefined
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void* volatile kept; // keeps the compiler from removing the allocations below

} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "clean") == 0)
        return 0;
    if (std::strcmp(mode, "leak") == 0) {
        kept = std::malloc(64);
        kept = nullptr;
        return 0;
    }
    if (std::strcmp(mode, "overflow") == 0) {
        // Sizes the compiler cannot know, so the address check (not a static one) reports it.
        const auto size = static_cast<std::size_t>(argc) + 6;
        auto* bytes = static_cast<char*>(std::malloc(size));
        kept = bytes;
        bytes[size] = 1; // one past the end
        std::free(bytes);
        return 0;
    }
    if (std::strcmp(mode, "undefined") == 0) {
        volatile int large = INT_MAX;
        return large + argc > 0 ? 0 : 1; // signed overflow
    }
    std::fprintf(stderr, "usage: sanitizer_canary clean|leak|overflow|undefined\n");
    return 2;
}
