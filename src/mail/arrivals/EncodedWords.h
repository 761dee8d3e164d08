// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A look at the RFC 2047 encoded words of a header value before GMime decodes them. GMime
// decodes broken words into debris (bad base64 into stray bytes, an unknown charset into
// question marks); such a value is better shown as it was sent.
#include <QByteArray>

#include <optional>

namespace postlark {

// The value with the padding that base64 words left off added, or nothing when one of its
// encoded words cannot be decoded (base64 outside its alphabet, a charset iconv does not know).
std::optional<QByteArray> CheckEncodedWords(const QByteArray& value);

} // namespace postlark
