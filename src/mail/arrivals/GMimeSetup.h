// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// GMime, started once on first use (from any thread), and the one set of parser options this
// room reads headers with: lenient about RFC 2047 and addresses, and raw 8-bit text read as
// UTF-8 where it is valid UTF-8, else as Windows-1252.
#include <QByteArray>

typedef struct _GMimeParserOptions GMimeParserOptions;

namespace postlark {

GMimeParserOptions* HeaderParserOptions();

// Raw 8-bit header text in UTF-8, by the options' fallback charsets; no RFC 2047 decoding.
QByteArray Raw8BitText(const QByteArray& text);

} // namespace postlark
