// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The From, Subject, Date and Message-ID of a header block as fetched from the server, decoded
// (RFC 2047 words in any charset, folded lines, display names, raw 8-bit text as UTF-8 or else
// Windows-1252) and made fit for display (DisplayText). Never fails: what cannot be read is
// left empty, a broken encoding is shown as it was sent.
#include "mail/arrivals/ArrivedMessage.h"

#include <QByteArray>

namespace postlark {

ArrivedMessage DecodeHeader(const QByteArray& id, const QByteArray& rawHeader);

} // namespace postlark
