// SPDX-License-Identifier: GPL-3.0-or-later
// Which host names a certificate's alternative names cover.
#include "platform/net/CertificateHost.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>

using postlark::CertificateNamesHost;
using postlark::test::TestCertificates;

namespace {

QSslCertificate Load(const QString& path) {
    const auto certificates = QSslCertificate::fromPath(path);
    return certificates.isEmpty() ? QSslCertificate() : certificates.first();
}

TEST(CertificateHost, OnlyTheAlternativeNamesCountWhenThereAreAny) {
    const TestCertificates& files = TestCertificates::Shared();
    ASSERT_TRUE(files.ok()) << files.error().toStdString();
    const QSslCertificate names = Load(files.namesCertFile());
    ASSERT_FALSE(names.isNull());

    for (const char* host : {"pop.example.test", "POP.Example.Test", "mail.example.org",
                             "mail.example.org.", "192.0.2.7", "2001:db8::7", "[2001:db8::7]"})
        EXPECT_TRUE(CertificateNamesHost(names, host)) << host;
    for (const char* host : {"cn.example.net", // the common name
                             "example.test", "a.b.example.test", "example.org", "192.0.2.8",
                             "pop.example.test.evil", "xexample.test", ""})
        EXPECT_FALSE(CertificateNamesHost(names, host)) << host;

    // Without alternative names the handshake's own check of the common name decides.
    EXPECT_TRUE(CertificateNamesHost(Load(files.caCertFile()), "anything.example"));
    EXPECT_FALSE(CertificateNamesHost(Load(files.commonNameOnlyCertFile()), "localhost"));
}

} // namespace
