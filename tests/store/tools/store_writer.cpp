// SPDX-License-Identifier: GPL-3.0-or-later
// Helper process for the settings store tests: a second running copy that writes (or reads)
// the store found through its inherited XDG_CONFIG_HOME.
//   store_writer flip KEY A B        save KEY = A, B, A, ... until killed; prints "r" once the
//                                    first save of B has completed
//   store_writer nohome KEY VALUE    as a user without home folder (another uid when run as
//                                    root) and without XDG_CONFIG_HOME: prints the store's
//                                    folder, a '|' and "saved" or the save's error, or "skip"
//                                    when this user cannot be made homeless
//   store_writer fill PREFIX COUNT   save PREFIX0 .. PREFIX<COUNT-1>, each to "<PREFIX><i>"
//   store_writer get KEY             print the stored value (empty default)
//   store_writer set KEY VALUE       save one value
#include "platform/base/RuntimeError.h"
#include "store/SettingsStore.h"

#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <unistd.h>

using postlark::SettingsStore;

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "flip" && argc == 5) {
        SettingsStore::SaveValue(argv[2], argv[3]);
        SettingsStore::SaveValue(argv[2], argv[4]);
        if (::write(STDOUT_FILENO, "r", 1) != 1)
            return 1;
        for (;;) {
            SettingsStore::SaveValue(argv[2], argv[3]);
            SettingsStore::SaveValue(argv[2], argv[4]);
        }
    }
    if (mode == "fill" && argc == 4) {
        const std::string prefix = argv[2];
        for (long i = 0, count = std::atol(argv[3]); i < count; ++i)
            SettingsStore::SaveValue(prefix + std::to_string(i), prefix + std::to_string(i));
        return 0;
    }
    if (mode == "get" && argc == 3) {
        const std::string value = SettingsStore::GetValue(argv[2]);
        std::fwrite(value.data(), 1, value.size(), stdout);
        return 0;
    }
    if (mode == "set" && argc == 4) {
        SettingsStore::SaveValue(argv[2], argv[3]);
        return 0;
    }
    if (mode == "nohome" && argc == 4) {
        if (::geteuid() == 0) {
            // A user id without a passwd entry, as in a container started with --user.
            uid_t uid = 54321;
            while (::getpwuid(uid) != nullptr)
                ++uid;
            if (::setgroups(0, nullptr) != 0 || ::setgid(uid) != 0 || ::setuid(uid) != 0)
                return 1;
        } else if (::getpwuid(::getuid()) != nullptr) {
            std::fputs("skip", stdout);
            return 0;
        }
        ::unsetenv("HOME");
        ::unsetenv("XDG_CONFIG_HOME");
        std::string result = SettingsStore::FolderPath() + "|";
        try {
            SettingsStore::SaveValue(argv[2], argv[3]);
            result += "saved";
        } catch (const postlark::RuntimeError& e) {
            result += std::to_string(e.Number) + " " + e.Description;
        }
        std::fputs(result.c_str(), stdout);
        return 0;
    }
    std::fprintf(stderr, "usage: store_writer flip|fill|get|set ...\n");
    return 2;
}
