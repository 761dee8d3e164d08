// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/net/CertificateHost.h"

#include <QHostAddress>
#include <QUrl>

namespace postlark {

namespace {

QString Normalized(QString name) {
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name.toLower();
}

bool DnsNameMatches(const QString& pattern, const QString& host) {
    const QString name = Normalized(pattern);
    if (!name.startsWith(QLatin1String("*.")))
        return name == host;
    const QString rest = name.mid(1); // ".example.org"
    if (rest.count(QLatin1Char('.')) < 2)
        return false; // "*.org" would name a whole top-level domain
    if (!host.endsWith(rest))
        return false;
    const QString label = host.left(host.size() - rest.size());
    return !label.isEmpty() && !label.contains(QLatin1Char('.'));
}

} // namespace

bool CertificateNamesHost(const QSslCertificate& certificate, const QString& host) {
    const auto names = certificate.subjectAlternativeNames();
    const QList<QString> dns = names.values(QSsl::DnsEntry);
    const QList<QString> ips = names.values(QSsl::IpAddressEntry);
    if (dns.isEmpty() && ips.isEmpty())
        return true;

    QString bare = host;
    if (bare.startsWith(QLatin1Char('[')) && bare.endsWith(QLatin1Char(']')))
        bare = bare.mid(1, bare.size() - 2);
    const QHostAddress address(bare);
    if (!address.isNull()) {
        for (const QString& ip : ips)
            if (QHostAddress(ip).isEqual(address, QHostAddress::StrictConversion))
                return true;
        return false;
    }
    const QString name =
        Normalized(QUrl::toAce(bare).isEmpty() ? bare : QString::fromLatin1(QUrl::toAce(bare)));
    for (const QString& pattern : dns)
        if (DnsNameMatches(pattern, name))
            return true;
    return false;
}

} // namespace postlark
