// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestCertificates.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>

namespace postlark::test {

namespace {

// Elliptic-curve keys: quick to make, accepted by every TLS stack in use here.
const QStringList kNewKey = {
    QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

} // namespace

TestCertificates::TestCertificates() {
    ok_ = dir_.isValid() && make();
}

const TestCertificates& TestCertificates::Shared() {
    static const TestCertificates certificates;
    return certificates;
}

bool TestCertificates::run(const QStringList& arguments) {
    QProcess openssl;
    openssl.setWorkingDirectory(dir_.path());
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        error_ = QStringLiteral("openssl %1 failed: %2")
                     .arg(arguments.value(0), QString::fromLocal8Bit(openssl.readAll()));
        return false;
    }
    return true;
}

bool TestCertificates::make() {
    const auto selfSigned = [&](const QString& stem, const QString& subject,
                                const QStringList& extensions) {
        QStringList args = {QStringLiteral("req"), QStringLiteral("-x509")};
        args << kNewKey << QStringLiteral("-keyout") << stem + ".key" << QStringLiteral("-out")
             << stem + ".pem" << QStringLiteral("-days") << QStringLiteral("30")
             << QStringLiteral("-subj") << subject;
        for (const QString& extension : extensions)
            args << QStringLiteral("-addext") << extension;
        return run(args);
    };
    const auto signedByCa = [&](const QString& stem, const QString& subject,
                                const QString& altNames) {
        QFile extensions(dir_.filePath(stem + ".ext"));
        if (!extensions.open(QIODevice::WriteOnly))
            return false;
        extensions.write(QStringLiteral("basicConstraints = CA:FALSE\n"
                                        "extendedKeyUsage = serverAuth\n"
                                        "subjectAltName = %1\n")
                             .arg(altNames)
                             .toLatin1());
        extensions.close();
        QStringList request = {QStringLiteral("req")};
        request << kNewKey << QStringLiteral("-keyout") << stem + ".key" << QStringLiteral("-out")
                << stem + ".csr" << QStringLiteral("-subj") << subject;
        return run(request) &&
               run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                    stem + ".csr", QStringLiteral("-CA"), QStringLiteral("ca.pem"),
                    QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                    QStringLiteral("-CAcreateserial"), QStringLiteral("-days"),
                    QStringLiteral("30"), QStringLiteral("-extfile"), stem + ".ext",
                    QStringLiteral("-out"), stem + ".pem"});
    };

    return selfSigned(QStringLiteral("ca"), QStringLiteral("/CN=Postlark Test CA"),
                      {QStringLiteral("basicConstraints=critical,CA:TRUE"),
                       QStringLiteral("keyUsage=critical,keyCertSign,cRLSign")}) &&
           signedByCa(QStringLiteral("server"), QStringLiteral("/CN=localhost"),
                      QStringLiteral("IP:127.0.0.1, DNS:localhost")) &&
           signedByCa(QStringLiteral("wronghost"), QStringLiteral("/CN=") + wrongHostName(),
                      QStringLiteral("DNS:") + wrongHostName()) &&
           signedByCa(QStringLiteral("cnonly"), QStringLiteral("/CN=localhost"),
                      QStringLiteral("DNS:") + wrongHostName()) &&
           signedByCa(QStringLiteral("names"), QStringLiteral("/CN=cn.example.net"),
                      QStringLiteral("DNS:*.example.test, DNS:Mail.Example.org, "
                                     "IP:192.0.2.7, IP:2001:db8::7")) &&
           selfSigned(QStringLiteral("selfsigned"), QStringLiteral("/CN=localhost"),
                      {QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost")});
}

TrustTestCa::TrustTestCa(const TestCertificates& certificates)
    : previous_(QSslConfiguration::defaultConfiguration()) {
    QSslConfiguration configuration = previous_;
    configuration.addCaCertificates(QSslCertificate::fromPath(certificates.caCertFile()));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

TrustTestCa::~TrustTestCa() {
    QSslConfiguration::setDefaultConfiguration(previous_);
}

} // namespace postlark::test
