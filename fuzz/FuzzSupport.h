// SPDX-License-Identifier: GPL-3.0-or-later
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
// flushes cost nothing) for the rest of the process, and returns it. The folder is removed at
// exit; only a crash leaves it behind.
class ScratchFolder {
public:
    ScratchFolder() {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
        path_ = std::string(base ? base : "/tmp") + "/postlark-fuzz-XXXXXX";
        if (!mkdtemp(path_.data()))
            Violation("cannot create a scratch folder", path_);
        setenv("XDG_CONFIG_HOME", path_.c_str(), 1);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline const std::string& ScratchConfigHome() {
    static const ScratchFolder folder;
    return folder.path();
}

} // namespace postlark::fuzz
