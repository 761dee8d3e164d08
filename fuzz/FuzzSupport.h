#pragma once
// Shared by the fuzz targets: property checks that stop the run with a message (libFuzzer then
// keeps the input as a finding), and a private settings folder for targets that use the store.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace postlark::fuzz {

// Prints the broken property (with a printable excerpt of the data involved) and aborts.
[[noreturn]] inline void Violation(const char* property, std::string_view detail = {}) {
    std::string shown;
    for (const char ch : detail.substr(0, 400)) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            shown += ch;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            shown += escaped;
        }
    }
    std::fprintf(stderr, "\nproperty violated: %s\n  %s\n", property, shown.c_str());
    std::abort();
}

#define POSTLARK_FUZZ_CHECK(condition, detail)                                                     \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::postlark::fuzz::Violation(#condition, detail);                                       \
    } while (false)

// Points XDG_CONFIG_HOME at a fresh folder (in memory when /dev/shm exists, so the store's
// flushes cost nothing) for the rest of the process; returns it. The folder is left behind
// behind only when the process is killed or aborts.
inline const std::string& ScratchConfigHome() {
    static const std::string folder = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        std::string pattern = std::string(base ? base : "/tmp") + "/postlark-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            Violation("cannot create a scratch folder", pattern);
        setenv("XDG_CONFIG_HOME", pattern.c_str(), 1);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchConfigHome(), ignored);
        });
        return pattern;
    }();
    return folder;
}

} // namespace postlark::fuzz
