// SPDX-License-Identifier: GPL-3.0-or-later
// The probe against a real Dovecot server, plain and TLS.
#include "ProbeHarness.h"
#include "store/AnsiText.h"
#include "support/DovecotServer.h"
#include "support/TestCertificates.h"

#include <gtest/gtest.h>
#include <memory>

using namespace postlark::test;

namespace {

class Pop3ProbeDovecot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QString why;
        if (!DovecotServer::Available(&why))
            return;
        const auto& certs = TestCertificates::Shared();
        plain_ = std::make_unique<DovecotServer>(
            DovecotServer::Options{{{"full", "pw-full", 2},
                                    {"empty", "pw-empty", 0},
                                    {QStringLiteral("jürgen"), QStringLiteral("pässwörd€"), 1}},
                                   true,
                                   certs.serverCertFile(),
                                   certs.serverKeyFile()});
        untrusted_ = std::make_unique<DovecotServer>(DovecotServer::Options{
            {{"full", "pw-full", 2}}, true, certs.selfSignedCertFile(), certs.selfSignedKeyFile()});
        if (!plain_->start(&startError_) || !untrusted_->start(&startError_))
            plain_.reset();
    }
    static void TearDownTestSuite() {
        if (plain_)
            plain_->requestStop();
        if (untrusted_)
            untrusted_->requestStop();
        plain_.reset();
        untrusted_.reset();
    }
    void SetUp() override {
        QString why;
        if (!DovecotServer::Available(&why))
            GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(plain_) << startError_.toStdString();
    }

    static QString Plain() { return QStringLiteral("127.0.0.1:%1").arg(plain_->port()); }
    static QString Tls(const DovecotServer& s) {
        return QStringLiteral("pop3s://127.0.0.1:%1").arg(s.tlsPort());
    }

    // Probes with the field stored as the account's server, like the program does.
    int Probe(const QString& field, const std::string& user, const std::string& password) {
        harness_.StoreAccount(field.toStdString(), user, password);
        harness_.Run(field);
        EXPECT_FALSE(harness_.TimedOut());
        return harness_.Result();
    }

    ProbeHarness harness_;
    static inline std::unique_ptr<DovecotServer> plain_, untrusted_;
    static inline QString startError_;
};

TEST_F(Pop3ProbeDovecot, MailboxWithTwoMessages) {
    EXPECT_EQ(Probe(Plain(), "full", "pw-full"), 1);
    EXPECT_EQ(harness_.Count(), "2");
}

TEST_F(Pop3ProbeDovecot, EmptyMailbox) {
    EXPECT_EQ(Probe(Plain(), "empty", "pw-empty"), 0);
    EXPECT_EQ(harness_.Count(), "0");
}

// Stored single-byte text goes out as UTF-8, which is what the server compares.
TEST_F(Pop3ProbeDovecot, UserNameAndPasswordOutsideAsciiLogIn) {
    EXPECT_EQ(Probe(Plain(), postlark::QStringToAnsi(QStringLiteral("jürgen")),
                    postlark::QStringToAnsi(QStringLiteral("pässwörd€"))),
              1);
    EXPECT_EQ(harness_.Count(), "1");
}

TEST_F(Pop3ProbeDovecot, WrongPasswordIsBadPassword) {
    EXPECT_EQ(Probe(Plain(), "full", "not-the-password"), -1);
}

TEST_F(Pop3ProbeDovecot, TlsWithATrustedCertificate) {
    TrustTestCa trust(TestCertificates::Shared());
    EXPECT_EQ(Probe(Tls(*plain_), "full", "pw-full"), 1);
    EXPECT_EQ(harness_.Count(), "2");
    // STLS on the plain port.
    EXPECT_EQ(Probe(QStringLiteral("pop3://127.0.0.1:%1").arg(plain_->port()), "full", "pw-full"),
              1);
}

TEST_F(Pop3ProbeDovecot, TlsWithAnUntrustedCertificateFails) {
    TrustTestCa trust(TestCertificates::Shared());
    EXPECT_EQ(Probe(Tls(*untrusted_), "full", "pw-full"), -2);
}

} // namespace
