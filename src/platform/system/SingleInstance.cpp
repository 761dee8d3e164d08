// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace postlark {

namespace {

// Creates the missing folders down to `folder` with mode 0700; whether it is now a folder
// of this user that nobody else may change.
bool EnsurePrivateFolder(const QByteArray& folder) {
    for (qsizetype slash = folder.indexOf('/', 1);; slash = folder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? folder : folder.left(slash);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash < 0)
            break;
    }
    struct stat info {};
    if (::lstat(folder.constData(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid())
        return false;
    // The settings store keeps its folder at 0700 too.
    return (info.st_mode & 07777) == 0700 || ::chmod(folder.constData(), 0700) == 0;
}

} // namespace

SingleInstance::SingleInstance(QString privateFolder) : privateFolder_(std::move(privateFolder)) {}

SingleInstance::~SingleInstance() {
    if (fd_ >= 0)
        ::close(fd_);
}

namespace {

// The runtime folder, when the session has one.
QString RuntimeFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QDir(runtime).exists() ? runtime : QString();
}

} // namespace

QString SingleInstance::LockPath(const QString& privateFolder) {
    if (const QString runtime = RuntimeFolder(); !runtime.isEmpty())
        return runtime + QStringLiteral("/Postlark.lock");
    // Never a shared folder such as /tmp: another user could create the file first.
    if (privateFolder.isEmpty())
        return {};
    return privateFolder + QStringLiteral("/instance.lock");
}

bool SingleInstance::OpenLockFile() {
    if (fd_ >= 0)
        return true;
    const QString lockPath = LockPath(privateFolder_);
    if (lockPath.isEmpty())
        return false;
    if (RuntimeFolder().isEmpty() && !EnsurePrivateFolder(QFile::encodeName(privateFolder_)))
        return false;
    const QByteArray path = QFile::encodeName(lockPath);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid()) {
        ::close(fd);
        return false; // not a lock of this user's
    }
    fd_ = fd;
    return true;
}

bool SingleInstance::AnotherCopyRunning() {
    if (held_)
        return false;
    if (!OpenLockFile())
        return false; // without a lock file we cannot tell; let this copy run
    // The exclusive lock is granted only while no copy holds its share.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return true;
    ::flock(fd_, LOCK_SH); // from now on a share, like every other running copy
    held_ = true;
    return false;
}

void SingleInstance::RunBesideOthers() {
    // Waits only while another copy is between its test and taking its share.
    if (!held_ && OpenLockFile() && ::flock(fd_, LOCK_SH) == 0)
        held_ = true;
}

} // namespace postlark
