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
    if (fd_ >= 0)
        return false;
    const QByteArray path = QFile::encodeName(LockPath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false; // without a lock file we cannot tell; let this copy run
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return true;
    }
    fd_ = fd;
    return false;
}

} // namespace postlark
