// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestEnvironment.h"

#include <QDir>

namespace postlark::test {

TestEnvironment::TestEnvironment()
    : oldConfig_(qgetenv("XDG_CONFIG_HOME")), oldRuntime_(qgetenv("XDG_RUNTIME_DIR")),
      hadConfig_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")),
      hadRuntime_(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR")) {
    QDir().mkpath(configHome());
    QDir().mkpath(runtimeDir());
    QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeDir().toLocal8Bit());
}

TestEnvironment::~TestEnvironment() {
    if (hadConfig_)
        qputenv("XDG_CONFIG_HOME", oldConfig_);
    else
        qunsetenv("XDG_CONFIG_HOME");
    if (hadRuntime_)
        qputenv("XDG_RUNTIME_DIR", oldRuntime_);
    else
        qunsetenv("XDG_RUNTIME_DIR");
}

} // namespace postlark::test
