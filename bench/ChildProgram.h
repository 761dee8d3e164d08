// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Starting and ending the programs under measurement as child processes, with as little as
// possible between the moment taken as their start and their exec.
#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace postlark::bench {

class ChildProgram {
public:
    // Starts the program with the arguments and `environment` ("NAME=value" entries, the
    // whole environment); false when it could not be started. `started` is taken just before
    // the process is created.
    bool Start(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment,
               std::chrono::steady_clock::time_point* started = nullptr);
    // Ends it (SIGTERM, then SIGKILL after two seconds) and waits for it.
    void Stop();
    pid_t Pid() const { return pid_; }
    bool Running();

    ChildProgram() = default;
    ~ChildProgram() { Stop(); }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

private:
    pid_t pid_ = -1;
};

// VmRSS of a process in KiB; 0 when it cannot be read.
double ResidentKiB(pid_t pid);

// This process's environment with the entries of `changes` ("NAME=value") put in.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes);

} // namespace postlark::bench
