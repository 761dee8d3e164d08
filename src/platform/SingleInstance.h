#pragma once
// A per-user single-instance test: the first copy holds an exclusive lock on a file in the
// user's runtime folder, or without one in the user's private settings folder, for as long as
// it runs. Only a regular file of the user's own, reached without following a symbolic link,
// counts as the lock.
#include <QString>

namespace postlark {

class SingleInstance {
public:
    // `privateFolder` is where the lock goes when there is no runtime folder: a folder only
    // the user may enter (created with mode 0700 when missing).
    explicit SingleInstance(QString privateFolder = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock if it is free. Returns true when another copy already holds it; false
    // also when no lock can be had (this copy then runs).
    bool AnotherCopyRunning();

    // The lock file: $XDG_RUNTIME_DIR/Postlark.lock, else instance.lock in `privateFolder`;
    // empty when neither exists.
    static QString LockPath(const QString& privateFolder = {});

private:
    QString privateFolder_;
    int fd_ = -1;
};

} // namespace postlark
