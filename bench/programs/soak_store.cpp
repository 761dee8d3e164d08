// SPDX-License-Identifier: GPL-3.0-or-later
// Crash soak of the settings store: a writer process saves large values in a loop and is
// killed at random moments; after every kill the store file must be, byte for byte, either the
// last save the writer completed or the one it was in the middle of, and stay owner-only.
//
//   soak_store [KILLS] [SEED]        (defaults: 1000 kills, seed from the clock)
//   soak_store --writer SEED         the writer (started by the soak itself)
//
// Values are 1 KB to 600 KB and each holds every byte value 0-255. The writer reports each
// completed save on a pipe; the expected file texts come from the same store code saving the
// same values in a separate scratch folder.
#include "store/SettingsStore.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using postlark::SettingsStore;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kValuesPerRound = 4;
constexpr const char* kKeepKey = "Keep";
constexpr const char* kBigKey = "Big";
const std::string kKeepValue = "saved before the soak";

// A value of 1 KB to 600 KB with every byte value at least once: random bytes, with byte b
// placed somewhere in the b-th 256th of the value.
std::string MakeValue(std::uint64_t seed, std::size_t index) {
    std::mt19937_64 random(seed * 1000003u + index);
    const std::size_t size = std::uniform_int_distribution<std::size_t>(1024, 600 * 1024)(random);
    std::string value(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t bits = random();
        std::memcpy(value.data() + i, &bits, std::min<std::size_t>(8, size - i));
    }
    const std::size_t slice = size / 256;
    for (std::size_t b = 0; b < 256; ++b)
        value[b * slice + random() % slice] = static_cast<char>(b);
    return value;
}

std::array<std::string, kValuesPerRound> RoundValues(std::uint64_t seed) {
    std::array<std::string, kValuesPerRound> values;
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = MakeValue(seed, i);
    return values;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}

// The writer: saves the round's values one after another, forever, and reports the number of
// every completed save on standard output.
int RunWriter(std::uint64_t seed) {
    const auto values = RoundValues(seed);
    if (!WriteAll(STDOUT_FILENO, "r", 1))
        return 1;
    for (std::uint32_t k = 0;; ++k) {
        SettingsStore::SaveValue(kBigKey, values[k % values.size()]);
        if (!WriteAll(STDOUT_FILENO, &k, sizeof k))
            return 1;
    }
}

// The whole store file after saving Keep and then Big = value into an empty store.
std::string ExpectedFile(const std::string& scratchHome, const std::string& value) {
    const char* real = std::getenv("XDG_CONFIG_HOME");
    const std::string realHome = real ? real : "";
    std::filesystem::remove_all(scratchHome);
    setenv("XDG_CONFIG_HOME", scratchHome.c_str(), 1);
    SettingsStore::SaveValue(kKeepKey, kKeepValue);
    SettingsStore::SaveValue(kBigKey, value);
    const std::string text = ReadFile(SettingsStore::FilePath());
    setenv("XDG_CONFIG_HOME", realHome.c_str(), 1);
    return text;
}

struct Writer {
    pid_t pid = -1;
    int output = -1;
};

Writer StartWriter(const std::string& self, std::uint64_t seed) {
    int fds[2];
    if (::pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(2);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string mode = "--writer", seedText = std::to_string(seed);
    std::string program = self;
    char* argv[] = {program.data(), mode.data(), seedText.data(), nullptr};
    Writer writer;
    if (posix_spawn(&writer.pid, self.c_str(), &actions, nullptr, argv, environ) != 0) {
        std::perror("posix_spawn");
        std::exit(2);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    writer.output = fds[0];
    return writer;
}

// The number of the last save the writer reported, if any (the writer is dead: read to EOF).
std::optional<std::uint32_t> LastCompleted(int output) {
    std::string bytes;
    char buffer[4096];
    for (ssize_t got; (got = ::read(output, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(got));
    if (bytes.size() < sizeof(std::uint32_t))
        return std::nullopt;
    std::uint32_t k = 0;
    std::memcpy(&k, bytes.data() + bytes.size() - sizeof k, sizeof k);
    return k;
}

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

[[noreturn]] void Fail(int kill, const std::string& what) {
    std::fprintf(stderr, "soak: FAILED after kill %d: %s\n", kill, what.c_str());
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--writer") == 0)
        return RunWriter(std::strtoull(argv[2], nullptr, 10));
    const int kills = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::uint64_t seed =
        argc > 2 ? std::strtoull(argv[2], nullptr, 10)
                 : static_cast<std::uint64_t>(Clock::now().time_since_epoch().count());
    if (kills <= 0) {
        std::fprintf(stderr, "usage: soak_store [KILLS] [SEED]\n");
        return 2;
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe");

    // Store and scratch folder on the disk of the temporary folder, as a user's store would be.
    const char* tmp = std::getenv("TMPDIR");
    std::string base = std::string(tmp ? tmp : "/tmp") + "/postlark-soak-XXXXXX";
    if (!mkdtemp(base.data())) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string home = base + "/config", scratch = base + "/scratch";
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    SettingsStore::SaveValue(kKeepKey, kKeepValue);
    const std::string path = SettingsStore::FilePath();

    // Calibrate: how long one save of a typical value takes here.
    const auto calibration = RoundValues(seed ^ 0x5eed);
    const auto started = Clock::now();
    for (const auto& value : calibration)
        SettingsStore::SaveValue(kBigKey, value);
    const auto saveTime = (Clock::now() - started) / calibration.size();
    std::string current = calibration.back(); // the value the file holds now
    std::printf("soak: %d kills, seed %llu, store in %s, one save takes about %.1f ms\n", kills,
                static_cast<unsigned long long>(seed), home.c_str(),
                std::chrono::duration<double, std::milli>(saveTime).count());
    std::fflush(stdout);

    // Kill moments spread over the writer's first few saves.
    std::mt19937_64 random(seed);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(saveTime * 3);
    std::uniform_int_distribution<long> delay(0, std::max<long>(span.count(), 1000));
    int old = 0, inProgress = 0, leftovers = 0, completedSaves = 0;
    const auto soakStart = Clock::now();
    for (int kill = 1; kill <= kills; ++kill) {
        const std::uint64_t roundSeed = random();
        Writer writer = StartWriter(self, roundSeed);
        char ready = 0;
        if (::read(writer.output, &ready, 1) != 1)
            Fail(kill, "the writer did not start");
        ::usleep(static_cast<useconds_t>(delay(random)));
        ::kill(writer.pid, SIGKILL);
        int status = 0;
        ::waitpid(writer.pid, &status, 0);
        if (!WIFSIGNALED(status))
            Fail(kill, "the writer ended by itself, status " + std::to_string(status));
        const auto last = LastCompleted(writer.output);
        ::close(writer.output);

        const auto values = RoundValues(roundSeed);
        const std::string& before = last ? values[*last % kValuesPerRound] : current;
        const std::string& during = values[last ? (*last + 1) % kValuesPerRound : 0];
        completedSaves += last ? static_cast<int>(*last) + 1 : 0;

        const std::string file = ReadFile(path);
        if (file == ExpectedFile(scratch, before)) {
            current = before;
            ++old;
        } else if (file == ExpectedFile(scratch, during)) {
            current = during;
            ++inProgress;
        } else {
            Fail(kill, "the file (" + std::to_string(file.size()) +
                           " bytes) is neither the last completed save nor the one in progress");
        }
        if (SettingsStore::GetValue(kBigKey) != current ||
            SettingsStore::GetValue(kKeepKey) != kKeepValue)
            Fail(kill, "the values read back differ from the file's save");
        if (ModeOf(path) != 0600)
            Fail(kill, "the file's mode is not 0600");
        if (const mode_t temp = ModeOf(path + ".tmp"); temp != 0) {
            ++leftovers; // a killed save's partial file: it must be owner-only too
            if (temp != 0600)
                Fail(kill, "a partial file is readable by others");
        }
        if (kill % 100 == 0) {
            std::printf("soak: %d kills checked\n", kill);
            std::fflush(stdout);
        }
    }
    // A temporary file left by the last kill is no obstacle to the next save.
    SettingsStore::SaveValue(kBigKey, "after the soak");
    if (SettingsStore::GetValue(kBigKey) != "after the soak" || ModeOf(path) != 0600)
        Fail(kills, "saving after the soak failed");

    const double seconds = std::chrono::duration<double>(Clock::now() - soakStart).count();
    std::printf("soak: PASS: %d kills in %.0f s; file held the last completed save %d times and "
                "the save in progress %d times; %d saves completed in all; a temporary file was "
                "left behind %d times; mode 0600 throughout\n",
                kills, seconds, old, inProgress, completedSaves, leftovers);
    std::filesystem::remove_all(base);
    return 0;
}
