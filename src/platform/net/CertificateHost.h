// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The host-name check of a server certificate by its subject alternative names. When a
// certificate carries DNS or IP alternative names, only they identify the server; its common
// name then counts for nothing (TLS's own check still falls back to the common name there).
#include <QSslCertificate>
#include <QString>

namespace postlark {

// True when the certificate has no DNS or IP alternative names (the common name, checked
// during the handshake, decides), or when one of them names `host`: an IP address only by an
// equal IP entry, a host name by an equal DNS entry or by a wildcard "*" that stands for the
// whole left-most of at least three labels. Names compare without regard to case.
// (Exported from the network library for its tests.)
__attribute__((visibility("default"))) bool CertificateNamesHost(const QSslCertificate& certificate,
                                                                 const QString& host);

} // namespace postlark
