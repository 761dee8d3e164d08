// SPDX-License-Identifier: GPL-3.0-or-later
// The event dispatcher the program runs on, and that the choice never reaches programs started
// from it.
#include "platform/system/EventDispatcherChoice.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QProcess>
#include <gtest/gtest.h>
#include <optional>

using namespace postlark;

namespace {

// Sets or removes an environment variable for one scope and puts it back afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, std::optional<QByteArray> value) : name_(name) {
        if (qEnvironmentVariableIsSet(name))
            old_ = qgetenv(name);
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~ScopedVariable() {
        if (old_)
            qputenv(name_, *old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    std::optional<QByteArray> old_;
};

TEST(EventDispatcherChoice, TheTestsRunOnQtsOwnDispatcherAndChildrenDoNotInheritTheChoice) {
    // The test program's application was made the way the program makes its own.
    const QString dispatcher =
        QString::fromLatin1(QAbstractEventDispatcher::instance()->metaObject()->className());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORMTHEME") &&
        !qEnvironmentVariableIsSet("QT_NO_GLIB")) {
        EXPECT_FALSE(dispatcher.contains(QStringLiteral("Glib"))) << dispatcher.toStdString();
    }
    EXPECT_FALSE(qEnvironmentVariableIsSet("QT_NO_GLIB"));

    QProcess child;
    child.start(QStringLiteral("/usr/bin/env"), {});
    ASSERT_TRUE(child.waitForFinished(10000));
    EXPECT_FALSE(child.readAllStandardOutput().contains("QT_NO_GLIB"));
}

TEST(EventDispatcherChoice, AChosenThemeOrTheUsersOwnSettingKeepsTheirWay) {
    {
        ScopedVariable theme("QT_QPA_PLATFORMTHEME", QByteArray("gtk3"));
        ScopedVariable noGlib("QT_NO_GLIB", std::nullopt);
        EXPECT_FALSE(ChooseEventDispatcher());
        EXPECT_FALSE(qEnvironmentVariableIsSet("QT_NO_GLIB"));
        EndEventDispatcherChoice();
    }
    for (const char* users : {"0", "1"}) {
        ScopedVariable theme("QT_QPA_PLATFORMTHEME", std::nullopt);
        ScopedVariable noGlib("QT_NO_GLIB", QByteArray(users));
        EXPECT_EQ(ChooseEventDispatcher(), QByteArray(users) == "1");
        EndEventDispatcherChoice();
        EXPECT_EQ(qgetenv("QT_NO_GLIB"), QByteArray(users)) << "the user's setting stays";
    }
    {
        ScopedVariable theme("QT_QPA_PLATFORMTHEME", std::nullopt);
        ScopedVariable noGlib("QT_NO_GLIB", std::nullopt);
        EXPECT_TRUE(ChooseEventDispatcher() || qEnvironmentVariableIsSet("XDG_CURRENT_DESKTOP"));
        EndEventDispatcherChoice();
        EXPECT_FALSE(qEnvironmentVariableIsSet("QT_NO_GLIB"));
    }
}

} // namespace
