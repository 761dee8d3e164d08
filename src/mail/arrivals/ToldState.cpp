// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/arrivals/ToldState.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <map>

namespace postlark {

namespace {

const QByteArray kFirstLine = "postlark-told 2";
// Far above what the bound on ids lets a file grow to; a larger file is not ours.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

constexpr QFile::Permissions kOwnerFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

QByteArray StoredValidity(const QByteArray& uidValidity) {
    return uidValidity.isEmpty() ? QByteArray() : ToldIds::StoredForm(uidValidity);
}

// The sections of the file, by account hash, as this program knows them.
struct Table {
    QString path; // of the file they were read from
    std::map<QByteArray, QByteArray> sections;
    bool dirty = false;
};

Table& Shared() {
    static Table table;
    return table;
}

// The table of the current file, read the first time (or again after the file's place changed).
Table& Loaded() {
    Table& table = Shared();
    const QString path = ToldState::FilePath();
    if (table.path == path)
        return table;
    table = Table{path, {}, false};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return table;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.size() < 2 || lines.front() != kFirstLine || !lines.back().isEmpty())
        return table;
    QByteArray* section = nullptr;
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith("account ")) {
            section = &table.sections[lines[i].mid(8)];
            section->clear();
        } else if (section) {
            *section += lines[i] + '\n';
        }
    }
    return table;
}

} // namespace

QString ToldState::Folder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + "/.local/state";
    return base + "/postlark";
}

QString ToldState::FilePath() {
    return Folder() + QStringLiteral("/told");
}

ToldState::ToldState(const QString& accountKey)
    : hash_(QCryptographicHash::hash(accountKey.toUtf8(), QCryptographicHash::Sha256)
                .left(16)
                .toHex()) {
    const auto found = Loaded().sections.find(hash_);
    if (found == Loaded().sections.end())
        return;
    QList<QByteArray> lines = found->second.split('\n');
    lines.removeLast(); // after the last line end
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

QByteArray ToldState::Section() const {
    QByteArray text;
    if (!validity_.isEmpty())
        text += "validity " + validity_ + '\n';
    return text + told_.Lines();
}

bool ToldState::Flush() {
    Table& table = Shared();
    if (!table.dirty)
        return true;
    // The folder is made owner-only, the file replaced in one atomic step (one file for every
    // account, so a check writes it once).
    const QString folder = Folder();
    QDir().mkpath(QFileInfo(folder).path());
    if (!QDir().mkdir(folder, kOwnerFolder) && !QFileInfo(folder).isDir())
        return false;
    QFile::setPermissions(folder, kOwnerFolder);
    QByteArray text = kFirstLine + '\n';
    for (const auto& [hash, section] : table.sections)
        if (!section.isEmpty())
            text += "account " + hash + '\n' + section;
    QSaveFile file(table.path);
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner) ||
        file.write(text) != text.size() || !file.commit())
        return false;
    table.dirty = false;
    return true;
}

void ToldState::ForgetRead() {
    Shared() = Table();
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
        return false; // nothing changed: most checks find nothing new
    validity_ = validity;
    told_ = std::move(next);
    Table& table = Loaded();
    table.sections[hash_] = Section();
    table.dirty = true;
    return true;
}

} // namespace postlark
