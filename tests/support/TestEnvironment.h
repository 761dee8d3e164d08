// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Points the per-user folders (XDG_CONFIG_HOME, XDG_RUNTIME_DIR) at fresh temporary folders
// for the lifetime of the object, so no test touches the real home directory.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace postlark::test {

class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    QString configHome() const { return dir_.path() + "/config"; }
    QString runtimeDir() const { return dir_.path() + "/runtime"; }
    QString path() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    QByteArray oldConfig_, oldRuntime_;
    bool hadConfig_, hadRuntime_;
};

} // namespace postlark::test
