// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/PassCryptModule.h"

#include "platform/base/RuntimeError.h"

#include <charconv>
#include <cstddef>
#include <limits>
#include <string_view>
#include <utility>

namespace postlark::PassCryptModule {

namespace {

constexpr long UnexpectedError = 20000;
constexpr long LargestShiftedCode = 32767;

std::function<void()>& EventPump() {
    static std::function<void()> pump;
    return pump;
}

void ApplyDefaultKey(std::string& key) {
    if (key.empty())
        key = DefaultKey;
}

// Reads one group of the digit string as a decimal integer (an optional minus sign, then
// digits only).
std::optional<long> ParseGroup(const std::string& group) {
    long value = 0;
    const char* first = group.data();
    const char* last = first + group.size();
    const auto [end, error] = std::from_chars(first, last, value);
    if (group.empty() || error != std::errc() || end != last)
        return std::nullopt;
    return value;
}

std::string Decipher(const std::string& stored, std::string& key) {
    ApplyDefaultKey(key);
    const auto sum = KeySum(key);
    if (!sum)
        throw RuntimeError(WrongEncryptionString, WrongEncryptionText);

    // Unpack two digits per character; the last character may carry a single digit, so it
    // is written without a leading zero.
    std::string digits;
    digits.reserve(stored.size() * 2 + 1);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const int c = static_cast<unsigned char>(stored[i]) - 100;
        if (i + 1 < stored.size()) {
            if (c < 0)
                throw RuntimeError(UnexpectedError, "Unexpected Error");
            if (c < 10)
                digits += '0';
        }
        char number[8];
        char* const end = std::to_chars(number, number + sizeof number, c).ptr;
        digits.append(number, end);
    }

    // Regroup in threes, each group followed by a space.
    std::string groups;
    groups.reserve(digits.size() + digits.size() / 3 + 1);
    for (std::size_t i = 0; i < digits.size(); i += 3) {
        groups.append(digits, i, 3);
        groups += ' ';
    }

    if (groups.size() < 4)
        throw RuntimeError(WrongEncryptionString, WrongEncryptionText);
    // A final pair 00-09 came back as one digit: put its zero back in front of that digit.
    std::string tail = groups.substr(groups.size() - 4);
    if (StripSpaces(tail).size() == 2)
        groups.insert(groups.size() - 2, 1, '0');

    std::string text;
    std::string collected;
    for (const char ch : groups) {
        if (ch != ' ') {
            collected += ch;
            continue;
        }
        const auto n = ParseGroup(collected);
        if (!n)
            throw RuntimeError(WrongEncryptionString, WrongEncryptionText);
        const long long code = static_cast<long long>(*n) - *sum;
        if (code < 0 || code > 255)
            throw RuntimeError(WrongEncryptionString, WrongEncryptionText);
        text += static_cast<char>(static_cast<unsigned char>(code));
        collected.clear();
    }
    return text;
}

} // namespace

std::optional<std::int32_t> KeySum(const std::string& key) {
    const std::string_view k = key.empty() ? std::string_view(DefaultKey) : std::string_view(key);
    const auto code = [k](std::size_t i) {
        return static_cast<long long>(static_cast<unsigned char>(k[i]));
    };
    // Each step moves the sum by at most twice 255, so a 64-bit sum cannot overflow before
    // the 32-bit check below catches it.
    long long sum = code(0);
    for (std::size_t i = 1; i < k.size(); ++i) {
        const long long ki = code(i);
        const long long previous = code(i - 1);
        // The four tests run in order, each on the sum the one before left, so a code can
        // be subtracted or added twice.
        if (sum >= ki && ki <= previous)
            sum -= ki;
        if (sum >= ki && ki <= previous)
            sum -= ki;
        if (ki >= sum && ki >= previous)
            sum += ki;
        if (ki < sum && ki >= previous)
            sum += ki;
        if (sum > std::numeric_limits<std::int32_t>::max())
            return std::nullopt;
    }
    return static_cast<std::int32_t>(sum);
}

std::string EncryptText(const std::string& text, std::string& key) noexcept {
    try {
        ApplyDefaultKey(key);
        const auto sum = KeySum(key);
        if (!sum)
            return {};

        // One group per character: the shifted code in decimal, at least three digits,
        // followed by a space.
        std::string digits;
        digits.reserve(text.size() * 4);
        for (const char ch : text) {
            const long long shifted = static_cast<long long>(static_cast<unsigned char>(ch)) + *sum;
            if (shifted > LargestShiftedCode)
                return {};
            if (shifted <= 99)
                digits += '0';
            digits += std::to_string(shifted);
            digits += ' ';
        }
        StripSpaces(digits);
        if (digits.empty())
            return {};

        // Pack two digits per character (the last one alone when the count is odd).
        std::string stored;
        stored.reserve(digits.size() / 2 + 1);
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            int pair = digits[i] - '0';
            if (i + 1 < digits.size())
                pair = pair * 10 + (digits[i + 1] - '0');
            stored += static_cast<char>(static_cast<unsigned char>(pair + 100));
        }
        return stored;
    } catch (...) {
        return {};
    }
}

std::string DecryptText(const std::string& stored, std::string& key) {
    try {
        return Decipher(stored, key);
    } catch (...) {
        // Whatever went wrong (including the internal 20000), callers see only 20001.
        throw RuntimeError(WrongEncryptionString, WrongEncryptionText);
    }
}

std::string& StripSpaces(std::string& text) {
    // Work on a snapshot so that nothing the pump does can upset the scan; the pump still
    // runs once for every space, before that space is dropped.
    if (text.find(' ') == std::string::npos)
        return text;
    const std::function<void()> pump = EventPump();
    const std::string original = text;
    std::string stripped;
    stripped.reserve(original.size());
    for (const char ch : original) {
        if (ch != ' ') {
            stripped += ch;
            continue;
        }
        if (pump)
            pump();
    }
    text = std::move(stripped);
    return text;
}

void SetEventPump(std::function<void()> pump) {
    EventPump() = std::move(pump);
}

} // namespace postlark::PassCryptModule
