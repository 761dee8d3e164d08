// SPDX-License-Identifier: GPL-3.0-or-later
// The server field parser under arbitrary fields (read as the store's single-byte text, or as
// UTF-8 for characters beyond it) and default ports.
//  - A field is either valid (no error text, a non-empty host without spaces, controls,
//    brackets or URL punctuation, a port from 1 to 65535) or refused with a reason.
//  - TLS is chosen exactly when the field begins with "pop3s://" or "imaps://", the upgrade
//    before the log-in exactly for "pop3://" or "imap://", IMAP exactly when it begins with
//    "imap://", "imaps://" or "imap+insecure://" (any case).
//  - An IMAP address names a mailbox without control characters ("INBOX" when the field names
//    none); a POP3 address names none.
//  - The normal form of a valid address (its scheme, the host, bracketed when it is an IPv6
//    address, ":" and the port, then "/" and the percent-encoded mailbox for IMAP) parses back
//    to the same host, port, transport, protocol and mailbox under any default port, and so
//    does "host:port" for a clear-text POP3 address.
#include "FuzzSupport.h"
#include "platform/net/ServerAddress.h"
#include "store/AnsiText.h"

#include <QUrl>

#include <cstdint>
#include <fuzzer/FuzzedDataProvider.h>

using postlark::ParseServerField;
using postlark::ServerAddress;

namespace {

std::string Show(const QString& text) {
    return text.toStdString();
}

void CheckSame(const ServerAddress& original, const QString& form, quint16 defaultPort) {
    const ServerAddress again = ParseServerField(form, defaultPort);
    POSTLARK_FUZZ_CHECK(again.valid, Show(form + " | " + again.error));
    POSTLARK_FUZZ_CHECK(again.host == original.host, Show(form + " | " + again.host));
    POSTLARK_FUZZ_CHECK(again.port == original.port, Show(form));
    POSTLARK_FUZZ_CHECK(again.tls == original.tls, Show(form));
    POSTLARK_FUZZ_CHECK(again.imap == original.imap, Show(form));
    POSTLARK_FUZZ_CHECK(again.startTls == original.startTls, Show(form));
    POSTLARK_FUZZ_CHECK(again.mailbox == original.mailbox, Show(form + " | " + again.mailbox));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const auto defaultPort = input.ConsumeIntegral<quint16>();
    const auto otherPort = input.ConsumeIntegral<quint16>();
    const bool utf8 = input.ConsumeBool();
    const std::string bytes = input.ConsumeRemainingBytesAsString();
    const QString field =
        utf8 ? QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()))
             : postlark::AnsiToQString(bytes);

    const ServerAddress address = ParseServerField(field, defaultPort);
    if (!address.valid) {
        POSTLARK_FUZZ_CHECK(!address.error.isEmpty(), Show(field));
        return 0;
    }
    POSTLARK_FUZZ_CHECK(address.error.isEmpty(), Show(field));
    POSTLARK_FUZZ_CHECK(!address.host.isEmpty(), Show(field));
    POSTLARK_FUZZ_CHECK(address.port != 0, Show(field));
    for (const QChar c : address.host) {
        POSTLARK_FUZZ_CHECK(!c.isSpace() && c.category() != QChar::Other_Control, Show(field));
        POSTLARK_FUZZ_CHECK(!QStringLiteral("[]/\\?#@\"<>").contains(c), Show(field));
    }
    const QString trimmed = field.trimmed();
    const auto startsWith = [&](const char* scheme) {
        return trimmed.startsWith(QLatin1String(scheme), Qt::CaseInsensitive);
    };
    POSTLARK_FUZZ_CHECK(address.tls == (startsWith("pop3s://") || startsWith("imaps://")),
                        Show(field));
    POSTLARK_FUZZ_CHECK(address.startTls == (startsWith("pop3://") || startsWith("imap://")),
                        Show(field));
    POSTLARK_FUZZ_CHECK(address.imap == (startsWith("imap://") || startsWith("imaps://") ||
                                         startsWith("imap+insecure://")),
                        Show(field));

    POSTLARK_FUZZ_CHECK(address.mailbox.isEmpty() == !address.imap, Show(field));
    for (const QChar c : address.mailbox)
        POSTLARK_FUZZ_CHECK(c.unicode() >= 0x20 && c.category() != QChar::Other_Control,
                            Show(field));

    const QString host = address.host.contains(u':') ? u'[' + address.host + u']' : address.host;
    const QString port = QString::number(address.port);
    const QString scheme = QLatin1String(address.imap ? "imap" : "pop3") +
                           QLatin1String(address.tls        ? "s://"
                                         : address.startTls ? "://"
                                                            : "+insecure://");
    const QString path = address.imap
                             ? u'/' + QString::fromLatin1(QUrl::toPercentEncoding(address.mailbox))
                             : QString();
    CheckSame(address, scheme + host + u':' + port + path, otherPort);
    if (!address.tls && !address.startTls && !address.imap)
        CheckSame(address, host + u':' + port, otherPort);
    return 0;
}
