// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/ToldState.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

namespace postlark {

namespace {

const QByteArray kFirstLine = "postlark-told 1";
// Far above what the bound on ids lets a file grow to; a larger file is not ours.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

constexpr QFile::Permissions kOwnerFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

QByteArray StoredValidity(const QByteArray& uidValidity) {
    return uidValidity.isEmpty() ? QByteArray() : ToldIds::StoredForm(uidValidity);
}

} // namespace

QString ToldState::Folder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + "/.local/state";
    return base + "/postlark";
}

ToldState::ToldState(const QString& accountKey) {
    const QByteArray hash =
        QCryptographicHash::hash(accountKey.toUtf8(), QCryptographicHash::Sha256).left(16);
    path_ = Folder() + '/' + QString::fromLatin1(hash.toHex()) + ".told";
    Read();
}

void ToldState::Read() {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return;
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.size() < 2 || lines.front() != kFirstLine || !lines.back().isEmpty())
        return;
    lines.removeFirst();
    lines.removeLast();
    QByteArray validity;
    if (!lines.isEmpty() && lines.front().startsWith("validity ")) {
        validity = lines.takeFirst().mid(9);
        if (!ToldIds::IsStoredForm(validity))
            return;
    }
    if (auto told = ToldIds::Parse(lines)) {
        validity_ = validity;
        told_ = std::move(*told);
    }
}

bool ToldState::Write() const {
    const QString folder = Folder();
    QDir().mkpath(QFileInfo(folder).path());
    if (!QDir().mkdir(folder, kOwnerFolder) && !QFileInfo(folder).isDir())
        return false;
    QFile::setPermissions(folder, kOwnerFolder);
    QByteArray text = kFirstLine + '\n';
    if (!validity_.isEmpty())
        text += "validity " + validity_ + '\n';
    text += told_.Lines();
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // New or not, the file is the owner's only, from its first byte on.
    if (!file.setPermissions(QFile::ReadOwner | QFile::WriteOwner))
        return false;
    return file.write(text) == text.size() && file.commit();
}

std::vector<QByteArray> ToldState::Untold(const QByteArray& uidValidity,
                                          const std::vector<QByteArray>& present) const {
    if (StoredValidity(uidValidity) != validity_)
        return present;
    std::vector<QByteArray> untold;
    for (const QByteArray& id : present) {
        if (!told_.Contains(id))
            untold.push_back(id);
    }
    return untold;
}

bool ToldState::MarkTold(const QByteArray& uidValidity, const std::vector<QByteArray>& told,
                         const std::vector<QByteArray>& present) {
    const QByteArray validity = StoredValidity(uidValidity);
    const QSet<QByteArray> added(told.begin(), told.end());
    std::vector<QByteArray> kept;
    for (const QByteArray& id : present) {
        if (added.contains(id) || (validity == validity_ && told_.Contains(id)))
            kept.push_back(id);
    }
    ToldIds next = ToldIds::Of(kept);
    if (validity == validity_ && next == told_)
        return true; // nothing to write: most checks find nothing new
    validity_ = validity;
    told_ = std::move(next);
    return Write();
}

} // namespace postlark
