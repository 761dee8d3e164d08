#pragma once
// A per-user single-instance test: the first copy holds an exclusive lock on a file in the
// user's runtime folder for as long as it runs.
#include <QString>

namespace postlark {

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock if it is free. Returns true when another copy already holds it.
    bool AnotherCopyRunning();

    // The lock file: $XDG_RUNTIME_DIR/Postlark.lock, or a per-user file in the temp folder.
    static QString LockPath();

private:
    int fd_ = -1;
};

} // namespace postlark
