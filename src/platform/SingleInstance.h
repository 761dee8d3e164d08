#pragma once
// A per-user single-instance test: every running copy holds a shared lock on a file in the
// user's runtime folder for as long as it runs, so a start is told about any copy that runs,
// the first one or one the user chose to start beside it.
#include <QString>

namespace postlark {

class SingleInstance {
public:
    SingleInstance() = default;
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Returns true when another copy holds the lock. Otherwise this copy holds it from now on.
    bool AnotherCopyRunning();
    // For a copy started beside others: holds the lock too, so that later starts still ask.
    void RunBesideOthers();

    // The lock file: $XDG_RUNTIME_DIR/Postlark.lock, or a per-user file in the temp folder.
    static QString LockPath();

private:
    int fd_ = -1;
    bool held_ = false;
};

} // namespace postlark
