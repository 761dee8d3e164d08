// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system/ModuleLibrary.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <dlfcn.h>

namespace postlark {

void* LoadModuleEntry(const char* fileName, const char* buildPath, const char* entry,
                      QString* why) {
    QStringList paths;
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!program.isEmpty())
        paths << QFileInfo(program).absolutePath() +
                     QStringLiteral("/../" POSTLARK_MODULE_INSTALL_SUBDIR "/") +
                     QString::fromLatin1(fileName);
    paths << QString::fromLocal8Bit(buildPath);

    QStringList tried;
    for (const QString& path : paths) {
        if (!QFileInfo::exists(path))
            continue;
        void* handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            tried << QString::fromLocal8Bit(::dlerror());
            continue;
        }
        if (void* address = ::dlsym(handle, entry))
            return address;
        tried << path + QStringLiteral(": no entry point");
        ::dlclose(handle);
    }
    if (why)
        *why = tried.isEmpty() ? QStringLiteral("the library %1 is not installed")
                                     .arg(QString::fromLatin1(fileName))
                               : tried.join(QStringLiteral("; "));
    return nullptr;
}

} // namespace postlark
