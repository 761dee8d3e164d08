// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/shell/ShellExecute.h"

#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace postlark::win {

namespace {

// Upper bound for one association query; xdg-mime normally answers in milliseconds.
constexpr int kQueryTimeoutMs = 5000;

std::optional<QUrl> AsUrl(const QString& text) {
    const QUrl url(text);
    // One-letter schemes are drive letters of Windows paths, not addresses.
    if (!url.isValid() || url.scheme().size() < 2)
        return std::nullopt;
    return url;
}

// "www.example.com" and "ftp.example.com" are addresses to the shell when no such file exists.
std::optional<QUrl> AsBareHost(const QString& text) {
    if (text.startsWith(QLatin1String("www."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("http://") + text);
    if (text.startsWith(QLatin1String("ftp."), Qt::CaseInsensitive))
        return QUrl(QStringLiteral("ftp://") + text);
    return std::nullopt;
}

std::intptr_t CodeForErrno(int error) {
    switch (error) {
    case ENOENT:
        return SE_ERR_FNF;
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
        return SE_ERR_PNF;
    case EACCES:
    case EPERM:
        return SE_ERR_ACCESSDENIED;
    case ETXTBSY:
        return SE_ERR_SHARE;
    case ENOMEM:
        return SE_ERR_OOM;
    default:
        return 0;
    }
}

// QProcess reports why a start failed only as text: the failing call, ": " and the text of
// its errno. Returns that errno, or 0 when it is none of the ones we tell apart (fork
// failures included).
int StartErrno(const QProcess& process) {
    const QString text = process.errorString();
    if (text.startsWith(QLatin1String("fork:")))
        return 0;
    for (int error : {EACCES, EPERM, ENOEXEC, ENOENT, ENOTDIR, ETXTBSY, ENOMEM})
        if (text.endsWith(QLatin1String(": ") + qt_error_string(error)))
            return error;
    return 0;
}

// Starts a program without waiting for it: SE_STARTED, or the shell code of the failure with
// its errno in `failure`.
std::intptr_t StartDetached(const QString& program, const QStringList& arguments,
                            const QString& directory, int* failure = nullptr) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    if (!directory.isEmpty())
        process.setWorkingDirectory(directory);
    if (process.startDetached())
        return SE_STARTED;
    const int error = StartErrno(process);
    if (failure)
        *failure = error;
    return CodeForErrno(error);
}

// Runs a short query program and returns its trimmed output. Waits in an event loop (user
// input held back) so timers and sockets keep running.
QString RunQuery(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(kQueryTimeoutMs, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    if (process.state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        return {};
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Whether some application is the default for the file's MIME type or one of its parents.
bool HasAssociation(const QString& path) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return false;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    QStringList names{type.name()};
    names += type.allAncestors();
    for (const QString& name : names)
        if (!RunQuery(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), name})
                 .isEmpty())
            return true;
    return false;
}

// Folders and documents go to the application the desktop associates with them.
std::intptr_t OpenWithDefault(const QString& path) {
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty() || !HasAssociation(path))
        return SE_ERR_NOASSOC;
    return StartDetached(xdgOpen, {path}, {});
}

std::intptr_t OpenUrl(const QUrl& url) {
    // Nothing could open an address that is not one ("www.example.invalid;x y"); the desktop
    // would be handed an empty text and report nothing, so it is a file that is not there.
    if (!url.isValid())
        return SE_ERR_FNF;
    if (QDesktopServices::openUrl(url))
        return SE_STARTED;
    // Platform plugins without desktop services (offscreen, minimal) refuse; the others would
    // run xdg-open themselves.
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty())
        return SE_ERR_NOASSOC;
    return StartDetached(xdgOpen, {url.toString(QUrl::FullyEncoded)}, {}) == SE_STARTED
               ? SE_STARTED
               : SE_ERR_NOASSOC;
}

// An absolute path for `file`: a bare name is looked up on PATH first, like a shell does;
// anything relative is then taken from `directory`, or the current folder when it is empty.
QString ResolvePath(const QString& file, const QString& directory) {
    if (QDir::isAbsolutePath(file))
        return file;
    if (!file.contains('/')) {
        const QString onPath = QStandardPaths::findExecutable(file);
        if (!onPath.isEmpty())
            return onPath;
    }
    return QDir(directory.isEmpty() ? QDir::currentPath() : directory).absoluteFilePath(file);
}

std::intptr_t MissingFile(const QString& path, int error) {
    if (error == ENOENT && !QFileInfo(path).dir().exists())
        return SE_ERR_PNF;
    return CodeForErrno(error);
}

std::intptr_t OpenPath(const QString& file, const QString& parameters, const QString& directory) {
    if (file.isEmpty())
        return SE_ERR_FNF;
    if (!directory.isEmpty() && !QFileInfo(directory).isDir())
        return SE_ERR_PNF;
    const QString path = ResolvePath(file, directory);
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        const int error = errno;
        if (error == ENOENT)
            if (const auto url = AsBareHost(file))
                return OpenUrl(*url);
        return MissingFile(path, error);
    }
    if (S_ISDIR(info.st_mode))
        return OpenWithDefault(path);
    const bool executable = S_ISREG(info.st_mode) && ::access(native.constData(), X_OK) == 0;
    if (!executable && ::access(native.constData(), R_OK) != 0)
        return SE_ERR_ACCESSDENIED;
    if (executable) {
        int failure = 0;
        const auto code =
            StartDetached(path, QProcess::splitCommand(parameters), directory, &failure);
        // An executable bit on a file that is no program (a text file on a FAT or NTFS
        // volume, say): open it as the document it is.
        if (failure != ENOEXEC)
            return code;
    }
    return OpenWithDefault(path);
}

} // namespace

namespace {

bool logging = false;

std::vector<ShellExecuteCall>& Log() {
    static std::vector<ShellExecuteCall> calls;
    return calls;
}

std::intptr_t Execute(const QString& operation, const QString& file, const QString& parameters,
                      const QString& directory) {
    if (!operation.isEmpty() && operation.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
        return SE_ERR_NOASSOC;
    if (const auto url = AsUrl(file))
        return url->isLocalFile() ? OpenPath(url->toLocalFile(), parameters, directory)
                                  : OpenUrl(*url);
    return OpenPath(file, parameters, directory);
}

} // namespace

std::intptr_t ShellExecuteA(HWND hwnd, const QString& operation, const QString& file,
                            const QString& parameters, const QString& directory, int showCmd) {
    const std::intptr_t result = Execute(operation, file, parameters, directory);
    if (logging)
        Log().push_back({hwnd, operation, file, parameters, directory, showCmd, result});
    return result;
}

void SetShellExecuteLogging(bool on) {
    logging = on;
    Log().clear();
}

const std::vector<ShellExecuteCall>& ShellExecuteLog() {
    return Log();
}

} // namespace postlark::win
