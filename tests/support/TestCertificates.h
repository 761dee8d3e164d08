// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Throw-away certificates made with the openssl command in a temporary folder:
//  - a test CA;
//  - a server certificate signed by it for IP 127.0.0.1 and DNS localhost;
//  - a self-signed certificate for the same names that nobody trusts;
//  - a certificate signed by the CA for another host name only;
//  - one signed by the CA whose common name is localhost but whose alternative names are not;
//  - one for a wildcard, a host name and an IP address (cn.example.net only as common name).
#include <QList>
#include <QSslConfiguration>
#include <QString>
#include <QTemporaryDir>

namespace postlark::test {

class TestCertificates {
public:
    TestCertificates(); // makes the files; check ok()
    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    // One set per test program, made on first use.
    static const TestCertificates& Shared();

    bool ok() const { return ok_; }
    QString error() const { return error_; }

    QString caCertFile() const { return file("ca.pem"); }
    QString serverCertFile() const { return file("server.pem"); }
    QString serverKeyFile() const { return file("server.key"); }
    QString selfSignedCertFile() const { return file("selfsigned.pem"); }
    QString selfSignedKeyFile() const { return file("selfsigned.key"); }
    QString wrongHostCertFile() const { return file("wronghost.pem"); }
    QString wrongHostKeyFile() const { return file("wronghost.key"); }
    static QString wrongHostName() { return QStringLiteral("mail.example.invalid"); }
    QString commonNameOnlyCertFile() const { return file("cnonly.pem"); }
    QString commonNameOnlyKeyFile() const { return file("cnonly.key"); }
    QString namesCertFile() const { return file("names.pem"); }

private:
    QString file(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    bool run(const QStringList& arguments);
    bool make();

    QTemporaryDir dir_;
    bool ok_ = false;
    QString error_;
};

// Trusts the test CA (in addition to the system's authorities) in the default TLS
// configuration for the lifetime of the object; restores the previous configuration after.
class TrustTestCa {
public:
    explicit TrustTestCa(const TestCertificates& certificates);
    ~TrustTestCa();
    TrustTestCa(const TrustTestCa&) = delete;
    TrustTestCa& operator=(const TrustTestCa&) = delete;

private:
    QSslConfiguration previous_;
};

} // namespace postlark::test
