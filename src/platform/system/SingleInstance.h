// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A per-user single-instance test: every running copy holds a shared lock on a file in the
// user's runtime folder, or without one in the user's private settings folder, for as long as
// it runs, so a start is told about any copy that runs, the first one or one the user chose to
// start beside it. Only a regular file of the user's own, reached without following a symbolic
// link, counts as the lock.
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

    // Returns true when another copy holds the lock. Otherwise this copy holds it from now on;
    // false also when no lock can be had (this copy then runs).
    bool AnotherCopyRunning();
    // For a copy started beside others: holds the lock too, so that later starts still ask.
    void RunBesideOthers();

    // The lock file: $XDG_RUNTIME_DIR/Postlark.lock, else instance.lock in `privateFolder`;
    // empty when neither exists.
    static QString LockPath(const QString& privateFolder = {});

private:
    // Opens the lock file once; false when it cannot be had or is not this user's own file.
    bool OpenLockFile();

    QString privateFolder_;
    int fd_ = -1;
    bool held_ = false;
};

} // namespace postlark
