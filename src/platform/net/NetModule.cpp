// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/NetModule.h"

#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace postlark {

namespace {

// Where the library is: installed next to the program's own library folder, else in the build
// tree the program was built in (tests and benchmarks run from there).
QStringList Candidates() {
    QStringList paths;
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    if (!program.isEmpty()) {
        paths << QFileInfo(program).absolutePath() +
                     QStringLiteral("/../" POSTLARK_QTNET_INSTALL_SUBDIR "/" POSTLARK_QTNET_NAME);
    }
    paths << QStringLiteral(POSTLARK_QTNET_BUILD_PATH);
    return paths;
}

const NetModuleApi* Load(QString* why) {
    QStringList tried;
    for (const QString& path : Candidates()) {
        if (!QFileInfo::exists(path))
            continue;
        void* handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            tried << QString::fromLocal8Bit(::dlerror());
            continue;
        }
        using Entry = const NetModuleApi* (*)();
        if (auto entry = reinterpret_cast<Entry>(::dlsym(handle, "postlark_net_module")))
            return entry();
        tried << path + QStringLiteral(": no entry point");
        ::dlclose(handle);
    }
    if (why)
        *why = tried.isEmpty()
                   ? QStringLiteral("the network library " POSTLARK_QTNET_NAME " is not installed")
                   : tried.join(QStringLiteral("; "));
    return nullptr;
}

} // namespace

const NetModuleApi* NetModule(QString* why) {
    static QString failure;
    static const NetModuleApi* api = Load(&failure);
    if (!api && why)
        *why = failure;
    return api;
}

} // namespace postlark
