// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Enciphers account passwords for the settings store. Every character code is shifted by a
// number derived from the key (the key sum), written out in decimal, and the digit string is
// packed two digits per stored character (codes 100-199). Only a key with the same key sum
// turns the stored form back into the password.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace postlark::PassCryptModule {

// The key used when a caller passes an empty one.
inline constexpr const char* DefaultKey = "GreyHarbour";

// The one failure DecryptText reports.
inline constexpr long WrongEncryptionString = 20001;
inline constexpr const char* WrongEncryptionText = "Wrong encryption string";

// Returns the stored form of text, or "" when it cannot be enciphered (empty text, or a
// character whose shifted code exceeds 32767). Never throws. An empty key is replaced by
// DefaultKey, in the caller's variable too.
std::string EncryptText(const std::string& text, std::string& key) noexcept;

// Returns the password held in a stored form. Every failure (malformed stored form, wrong key
// detected) is raised as RuntimeError 20001 "Wrong encryption string"; nothing else escapes.
// An empty key is replaced by DefaultKey, in the caller's variable too.
std::string DecryptText(const std::string& stored, std::string& key);

// Removes every space from text in place and returns it. Pending events are processed (through
// the installed event pump) once before each space is removed.
std::string& StripSpaces(std::string& text);

// The key sum of a key (DefaultKey's when key is empty); empty when it would not fit in a
// signed 32-bit integer, which only absurdly long keys can reach.
std::optional<std::int32_t> KeySum(const std::string& key);

// Installs the routine that processes pending events during StripSpaces; an empty function
// (the default) processes none.
void SetEventPump(std::function<void()> pump);

} // namespace postlark::PassCryptModule
