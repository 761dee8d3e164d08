// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/modHEX.h"

#include "platform/base/RuntimeError.h"

#include <gtest/gtest.h>

using namespace postlark;
using modHEX::HexDecode;
using modHEX::HexEncode;

namespace {

std::string Bytes(std::initializer_list<int> codes) {
    std::string text;
    for (const int c : codes)
        text += static_cast<char>(c);
    return text;
}

TEST(modHEXTest, EncodesUpperCasePairsWithTheSeparatorsFirstCharacter) {
    EXPECT_EQ(HexEncode(Bytes({136, 153, 166}), " "), "88 99 A6");
    EXPECT_EQ(HexEncode(Bytes({0, 255}), "-+"), "00--FF");
    EXPECT_EQ(HexEncode(Bytes({10, 171}), ""), "0AAB");
    EXPECT_EQ(HexEncode(Bytes({7}), " "), "07");
    EXPECT_EQ(HexEncode("", " "), "");
}

TEST(modHEXTest, EveryByteRoundTripsForAnySeparatorLength) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(HexDecode(HexEncode(all, " "), 1), all);
    EXPECT_EQ(HexDecode(HexEncode(all, ""), 0), all);
    EXPECT_EQ(HexDecode(HexEncode(all, ", "), 2), all);
}

TEST(modHEXTest, PairCountFollowsTheLengthAndIgnoresWhatStandsBetweenPairs) {
    EXPECT_EQ(HexDecode("88 99 A6", 1), Bytes({136, 153, 166}));
    EXPECT_EQ(HexDecode("88x99-A6", 1), Bytes({136, 153, 166}));
    EXPECT_EQ(HexDecode("88", 5), Bytes({136}));   // exactly two characters: one pair
    EXPECT_EQ(HexDecode("88 9", 1), Bytes({136})); // (4 + 1) / 3 = 1 pair
    EXPECT_EQ(HexDecode("8", 1), "");
    EXPECT_EQ(HexDecode("0A, AB", 2), Bytes({10, 171})); // the last pair counts with s = 2 too
    EXPECT_EQ(HexDecode("0AAB", 0), Bytes({10, 171}));
    EXPECT_EQ(HexDecode("0AA", 0), Bytes({10})); // half a pair is never read past the end
    EXPECT_EQ(HexDecode("", 1), "");
}

TEST(modHEXTest, OnlyDigitsAndCapitalsAToFAreHexDigits) {
    for (const char* bad : {"a6", "G0", "0:", "@1", "8 ", " 8", "0g"}) {
        try {
            HexDecode(bad, 1);
            ADD_FAILURE() << bad << " decoded";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.Number, modHEX::InvalidHexDigit) << bad;
        }
    }
}

} // namespace
