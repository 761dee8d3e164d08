// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared by the tests of the arrivals room: a fresh XDG_STATE_HOME per test, readable QStrings in
// failure messages.
#include "mail/arrivals/ToldState.h"

#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace postlark::test {

class StateHome : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_STATE_HOME", dir_.path().toLocal8Bit()); }
    void TearDown() override {
        ToldState::ForgetRead();
        qunsetenv("XDG_STATE_HOME");
    }

    QTemporaryDir dir_;
};

} // namespace postlark::test
