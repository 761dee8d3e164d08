// SPDX-License-Identifier: GPL-3.0-or-later
// Test entry point: a QApplication (headless unless the caller chose a platform) so that
// tests can run event loops, sockets and widgets, on the event dispatcher the program chooses.
#include "platform/system/EventDispatcherChoice.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    postlark::ChooseEventDispatcher();
    QApplication app(argc, argv);
    postlark::EndEventDispatcherChoice();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
