// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/AnsiText.h"

#include <gtest/gtest.h>

using namespace postlark;

TEST(AnsiText, EveryByteRoundTripsThroughQString) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const QString text = AnsiToQString(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(QStringToAnsi(text), all);
    EXPECT_EQ(text.at(0x80), QChar(0x20AC)); // euro sign
    EXPECT_EQ(text.at(0x81), QChar(0x0081)); // unassigned byte keeps its own value
    EXPECT_EQ(text.at(0xE9), QChar(0x00E9));
}

TEST(AnsiText, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    EXPECT_EQ(QStringToAnsi(QString::fromUtf8("a\xE2\x82\xAC\xE6\x97\xA5")), "a\x80?");
}
