// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/Registry.h"

#include "dialogs/ExecLine.h"

#include <QByteArray>
#include <QFile>

#include <cstring>

namespace postlark {

using namespace win;

std::int32_t WriteRegString(HKEY root, const QString& keyPath, const QString& valueName,
                            const QString& text) {
    HKEY key = 0;
    DWORD disposition = 0;
    const LONG opened =
        RegCreateKeyExA(root, keyPath.toUtf8().constData(), 0, "", REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &key, &disposition);
    if (opened != ERROR_SUCCESS)
        return opened;
    // The byte count of the converted text: a character count would cut multi-byte text.
    const QByteArray data = text.toUtf8();
    const LONG status =
        RegSetValueExA(key, valueName.toUtf8().constData(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(data.constData()), DWORD(data.size()));
    RegCloseKey(key);
    return status;
}

QVariant ReadRegValue(HKEY root, const QString& keyPath, const QString& valueName,
                      const QVariant& defaultValue) {
    QVariant result = defaultValue;
    HKEY key = 0;
    if (RegOpenKeyExA(root, keyPath.toUtf8().constData(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return result;
    const QByteArray name = valueName.toUtf8();
    DWORD type = REG_NONE, size = 0;
    if (RegQueryValueExA(key, name.constData(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        if (type == REG_SZ) {
            QByteArray buffer(qsizetype(size) + 1, ' ');
            DWORD got = size + 1;
            if (RegQueryValueExA(key, name.constData(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(buffer.data()), &got) == ERROR_SUCCESS)
                result = QString::fromUtf8(buffer.left(qsizetype(got)));
        } else if (type == REG_DWORD) {
            std::uint32_t number = 0;
            DWORD got = sizeof number;
            if (RegQueryValueExA(key, name.constData(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(&number), &got) == ERROR_SUCCESS)
                result = QVariant::fromValue(uint(number));
        }
    }
    RegCloseKey(key);
    return result;
}

QString ProgramPath() {
    QString path = QFile::symLinkTarget("/proc/self/exe");
    // A program file replaced while it runs (an upgrade) is reported with this mark; the
    // registration names the file that now stands at that path.
    const QString deleted = " (deleted)";
    if (path.endsWith(deleted) && !QFile::exists(path))
        path.chop(deleted.size());
    return path;
}

QString StartupCommand(const QString& programPath) {
    return ExecCommand(programPath, {RegistryStartSwitch});
}

} // namespace postlark
