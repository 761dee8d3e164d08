// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/PassCryptModule.h"
#include "platform/base/RuntimeError.h"
#include "store/ApplicationKey.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace postlark;
using namespace postlark::PassCryptModule;

namespace {

std::string Codes(std::initializer_list<int> codes) {
    std::string text;
    for (const int code : codes)
        text += static_cast<char>(code);
    return text;
}

std::string Encrypt(const std::string& text, std::string key) {
    return EncryptText(text, key);
}

std::string Decrypt(const std::string& stored, std::string key) {
    return DecryptText(stored, key);
}

// Only 20001 may leave DecryptText; the deciphered text is never printed.
void ExpectWrongEncryption(const std::string& stored, const std::string& key) {
    try {
        Decrypt(stored, key);
        ADD_FAILURE() << "stored form was accepted";
    } catch (const RuntimeError& error) {
        EXPECT_EQ(error.Number, 20001);
        EXPECT_EQ(error.Description, "Wrong encryption string");
    }
}

// The key "!~" repeated: 285 after one pair, then 60 more per pair.
std::string RisingKey(std::size_t pairs) {
    std::string key;
    for (std::size_t i = 0; i < pairs; ++i)
        key += "!~";
    return key;
}

class PassCrypt : public ::testing::Test {
protected:
    void TearDown() override { SetEventPump({}); }
};

} // namespace

TEST_F(PassCrypt, KeySumAppliesTheFourTestsInSequence) {
    EXPECT_EQ(KeySum("a"), 97);
    EXPECT_EQ(KeySum("zA"), 57);  // 122 - 65; a second subtraction would go below 65
    EXPECT_EQ(KeySum("z!"), 56);  // 122 - 33 - 33
    EXPECT_EQ(KeySum("!A"), 163); // 33 + 65 (65 >= 33) + 65 (65 < 98)
    EXPECT_EQ(KeySum("z!%"), 93); // 56 + 37 by the last test only
    EXPECT_EQ(KeySum("AA"), 65);  // 65 - 65, then + 65
    EXPECT_EQ(KeySum("z!A"), 186);
    EXPECT_EQ(KeySum("0E"), 186); // 48 + 69 + 69
    EXPECT_EQ(KeySum(""), 210);
    EXPECT_EQ(KeySum("GreyHarbour"), 210);
}

TEST_F(PassCrypt, KeySumBeyond32BitsIsRefusedNotWrapped) {
    // 0 and 255 alternating: 765 after two pairs, then 255 more per pair.
    std::string key;
    key.reserve(2 * 8421504);
    for (int i = 0; i < 8421503; ++i)
        key += Codes({0, 255});
    EXPECT_EQ(KeySum(key), 2147483520);
    key += Codes({0, 255});
    EXPECT_EQ(KeySum(key), std::nullopt);
    EXPECT_EQ(EncryptText("a", key), "");
    ExpectWrongEncryption(Codes({125, 101}), key);
}

TEST_F(PassCrypt, KnownStoredForms) {
    // Key sum 186: "A" -> 251, "b" -> 284, "r" -> 300.
    EXPECT_EQ(Encrypt("A", "z!A"), Codes({125, 101}));         // 25 1
    EXPECT_EQ(Encrypt("Ab", "z!A"), Codes({125, 112, 184}));   // 25 12 84
    EXPECT_EQ(Encrypt("Ar", "z!A"), Codes({125, 113, 100}));   // 25 13 00
    EXPECT_EQ(Encrypt("A", "!"), Codes({109, 108}));           // 65 + 33 = 098: 09 8
    EXPECT_EQ(Encrypt("A", RisingKey(13)), Codes({110, 170})); // 65 + 1005 = 1070: 10 70
    EXPECT_EQ(Decrypt(Codes({125, 101}), "z!A"), "A");
    EXPECT_EQ(Decrypt(Codes({125, 112, 184}), "z!A"), "Ab");
    EXPECT_EQ(Decrypt(Codes({125, 113, 100}), "z!A"), "Ar"); // final pair 00 repaired
    EXPECT_EQ(Decrypt(Codes({109, 108}), "!"), "A");
}

TEST_F(PassCrypt, EmptyKeyBecomesTheDefaultKey) {
    std::string key;
    EXPECT_EQ(EncryptText("pw", key), Codes({132, 123, 129})); // 322 329 with key sum 210
    EXPECT_EQ(key, "GreyHarbour");
    key.clear();
    EXPECT_EQ(DecryptText(Codes({132, 123, 129}), key), "pw");
    EXPECT_EQ(key, "GreyHarbour");
    key.clear();
    EXPECT_EQ(EncryptText("", key), "");
    EXPECT_EQ(key, "GreyHarbour");
}

TEST_F(PassCrypt, KeysWithTheSameKeySumAreInterchangeable) {
    EXPECT_EQ(Encrypt("secret", "z!A"), Encrypt("secret", "0E"));
    EXPECT_EQ(Decrypt(Encrypt("secret", "z!A"), "0E"), "secret");
}

TEST_F(PassCrypt, EncryptFailuresGiveEmptyText) {
    EXPECT_EQ(Encrypt("", "z!A"), "");
    const std::string key = RisingKey(539); // key sum 32565
    ASSERT_EQ(KeySum(key), 32565);
    EXPECT_EQ(Encrypt(Codes({202}), key).size(), 3u); // 32767 still fits
    EXPECT_EQ(Encrypt(Codes({65, 203}), key), "");    // 32768 does not
}

TEST_F(PassCrypt, MalformedStoredFormsFailWith20001) {
    ExpectWrongEncryption("", "z!A");
    ExpectWrongEncryption(Codes({125}), "z!A");          // two digits: too short
    ExpectWrongEncryption(Codes({99, 125, 101}), "z!A"); // below 100 before the end
    ExpectWrongEncryption(Codes({125, 99, 101}), "z!A");
    ExpectWrongEncryption(Codes({125, 112, 95}), "z!A");       // negative last character
    ExpectWrongEncryption(Codes({125, 112, 184, 150}), "z!A"); // last group 50 -> 500: out of range
    ExpectWrongEncryption(Codes({199, 199}), "z!A");           // 999 - 186 > 255
}

TEST_F(PassCrypt, WrongKeyIsUsuallyDetected) {
    ExpectWrongEncryption(Encrypt("Secret", "a"), BuildApplicationKey());
    ExpectWrongEncryption(Encrypt("Secret", BuildApplicationKey()), "a");
}

TEST_F(PassCrypt, ApplicationKeyIsFixedAndCoversEveryCode) {
    const std::string key = BuildApplicationKey();
    ASSERT_EQ(key.size(), 20u);
    for (const char ch : key)
        EXPECT_TRUE(ch > ' ' && ch < 127);
    // Changing the key would make every stored password unreadable.
    EXPECT_EQ(KeySum(key), 309);
    EXPECT_EQ(Encrypt("Postlark!", key),
              Codes({138, 194, 120, 142, 144, 125, 141, 174, 106, 142, 134, 116, 134, 102}));

    std::string all;
    for (int code = 0; code < 256; ++code) {
        const std::string one = Codes({code});
        const std::string stored = Encrypt(one, key);
        EXPECT_EQ(stored.size(), 2u) << code;
        EXPECT_EQ(Decrypt(stored, key), one) << code;
        all += one;
    }
    EXPECT_EQ(Decrypt(Encrypt(all, key), key), all);
}

TEST_F(PassCrypt, StripSpacesPumpsEventsOncePerSpace) {
    int pumped = 0;
    SetEventPump([&pumped] { ++pumped; });
    std::string text = " a b  c ";
    EXPECT_EQ(&StripSpaces(text), &text);
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(pumped, 5);

    pumped = 0;
    text = "abc";
    EXPECT_EQ(StripSpaces(text), "abc");
    EXPECT_EQ(pumped, 0);

    Encrypt("four", "z!A"); // one space per enciphered character
    EXPECT_EQ(pumped, 4);
}

TEST_F(PassCrypt, FailingEventPumpNeverEscapesAsAnotherError) {
    SetEventPump([] { throw std::runtime_error("pump"); });
    EXPECT_EQ(Encrypt("pw", "z!A"), "");
    ExpectWrongEncryption(Codes({125, 112, 184}), "z!A");
}
