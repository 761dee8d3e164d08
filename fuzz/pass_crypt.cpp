// SPDX-License-Identifier: GPL-3.0-or-later
// Password cipher under arbitrary keys, stored forms and passwords.
//  - DecryptText lets nothing but RuntimeError 20001 escape, and an empty key becomes the
//    default key in the caller's variable.
//  - With a key whose key sum keeps every shifted code at three digits (10 to 744), the cipher
//    is a bijection between texts and well-formed stored forms (codes 100-199, a length that
//    EncryptText can produce): such a form that deciphers enciphers back to itself.
//  - With such a key, every non-empty text enciphers to ceil(3n/2) characters of codes
//    100-199 and deciphers back to itself; the empty text enciphers to "".
#include "FuzzSupport.h"
#include "platform/base/RuntimeError.h"
#include "store/PassCryptModule.h"

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

namespace cipher = postlark::PassCryptModule;

namespace {

bool CodesWithin100To199(const std::string& text) {
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 100 || c > 199)
            return false;
    }
    return true;
}

// Three digits per character packed two per stored character: n characters give 3n digits
// and ceil(3n/2) stored characters, so a stored length of 1, 4, 7, ... never comes out.
bool EncipherableLength(std::size_t storedLength) {
    return storedLength % 3 != 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string key = input.ConsumeRandomLengthString(32);
    const std::string text = input.ConsumeRemainingBytesAsString();
    const auto sum = cipher::KeySum(key);
    const bool bijective = sum && *sum >= 10 && *sum <= 744;

    // The text as a stored form.
    std::string decryptKey = key;
    try {
        const std::string plain = cipher::DecryptText(text, decryptKey);
        if (bijective && CodesWithin100To199(text) && EncipherableLength(text.size())) {
            std::string encryptKey = key;
            POSTLARK_FUZZ_CHECK(cipher::EncryptText(plain, encryptKey) == text, text);
        }
    } catch (const postlark::RuntimeError& error) {
        POSTLARK_FUZZ_CHECK(error.Number == cipher::WrongEncryptionString, error.Description);
        POSTLARK_FUZZ_CHECK(error.Description == cipher::WrongEncryptionText, error.Description);
    }
    POSTLARK_FUZZ_CHECK(decryptKey == (key.empty() ? cipher::DefaultKey : key), decryptKey);

    // The text as a password.
    std::string encryptKey = key;
    const std::string stored = cipher::EncryptText(text, encryptKey);
    POSTLARK_FUZZ_CHECK(encryptKey == (key.empty() ? cipher::DefaultKey : key), encryptKey);
    if (text.empty())
        POSTLARK_FUZZ_CHECK(stored.empty(), stored);
    if (bijective && !text.empty()) {
        POSTLARK_FUZZ_CHECK(stored.size() == (3 * text.size() + 1) / 2, text);
        POSTLARK_FUZZ_CHECK(CodesWithin100To199(stored), stored);
        std::string again = key;
        POSTLARK_FUZZ_CHECK(cipher::DecryptText(stored, again) == text, text);
    }
    return 0;
}
