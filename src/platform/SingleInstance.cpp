#include "platform/SingleInstance.h"

#include <QDir>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace postlark {

SingleInstance::~SingleInstance() {
    if (fd_ >= 0)
        ::close(fd_);
}

QString SingleInstance::LockPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return runtime + QStringLiteral("/Postlark.lock");
    return QDir::tempPath() + QStringLiteral("/Postlark-%1.lock").arg(::getuid());
}

bool SingleInstance::AnotherCopyRunning() {
    if (held_)
        return false;
    if (fd_ < 0) {
        const QByteArray path = QFile::encodeName(LockPath());
        fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0)
            return false; // without a lock file we cannot tell; let this copy run
    }
    // The exclusive lock is granted only while no copy holds its share.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return true;
    ::flock(fd_, LOCK_SH); // from now on a share, like every other running copy
    held_ = true;
    return false;
}

void SingleInstance::RunBesideOthers() {
    // Waits only while another copy is between its test and taking its share.
    if (!held_ && fd_ >= 0 && ::flock(fd_, LOCK_SH) == 0)
        held_ = true;
}

} // namespace postlark
