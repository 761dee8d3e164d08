// SPDX-License-Identifier: GPL-3.0-or-later
// The IMAP probe against a real Dovecot server: unseen counts, log-in with awkward passwords
// (with and without an initial response), and TLS with certificates it must refuse.
#include "FakeNewMessageReader.h"
#include "ProbeHarness.h"
#include "support/DovecotServer.h"
#include "support/TestCertificates.h"

#include <QDir>
#include <gtest/gtest.h>
#include <memory>
#include <set>

using namespace postlark::test;
using postlark::Winsock;

namespace {

// Windows-1252 as stored: a quote, a backslash, a space, a-umlaut and the euro sign. Dovecot
// holds the password as UTF-8, so a login proves the conversion on the way out.
const std::string kStoredAwkward = "a\"b\\c d\xE4\x80";
const QString kAwkward = QStringLiteral("a\"b\\c d\u00E4\u20AC");

class ImapProbeDovecot : public ::testing::Test {
protected:
    enum Server { kTrusted, kNoInitialResponse, kSelfSigned, kWrongHost, kCommonNameOnly, kCount };

    void SetUp() override {
        QString why;
        if (!DovecotServer::Available(&why))
            GTEST_SKIP() << why.toStdString();
        ASSERT_TRUE(TestCertificates::Shared().ok())
            << TestCertificates::Shared().error().toStdString();
        // The servers offer STARTTLS, which imap:// fields take.
        trust_ = std::make_unique<TrustTestCa>(TestCertificates::Shared());
    }
    static void TearDownTestSuite() {
        for (auto& server : servers_) {
            if (server)
                server->requestStop();
        }
        for (auto& server : servers_)
            server.reset();
    }

    // Each server is started on first use (ctest runs every test in a process of its own).
    static const DovecotServer& Start(Server which) {
        auto& server = servers_[which];
        if (!server) {
            const TestCertificates& files = TestCertificates::Shared();
            const QString cert[] = {files.serverCertFile(), files.serverCertFile(),
                                    files.selfSignedCertFile(), files.wrongHostCertFile(),
                                    files.commonNameOnlyCertFile()};
            const QString key[] = {files.serverKeyFile(), files.serverKeyFile(),
                                   files.selfSignedKeyFile(), files.wrongHostKeyFile(),
                                   files.commonNameOnlyKeyFile()};
            DovecotServer::Options options{{{"mixed", "pw-mixed", 3, 1},
                                            {"allseen", "pw-allseen", 2, 2},
                                            {"empty", "pw-empty", 0, 0},
                                            {"awkward", kAwkward, 1, 0}},
                                           true,
                                           cert[which],
                                           key[which],
                                           true};
            // Without SASL-IR the PLAIN response waits for the server's continuation.
            if (which == kNoInitialResponse)
                options.imapCapability = QStringLiteral("IMAP4rev1 LITERAL+");
            server = std::make_unique<DovecotServer>(options);
            QString error;
            if (!server->start(&error))
                ADD_FAILURE() << error.toStdString();
        }
        return *server;
    }
    static QString Imap(const DovecotServer& s) {
        return QStringLiteral("imap://127.0.0.1:%1").arg(s.imapPort());
    }
    static QString Imaps(const DovecotServer& s) {
        return QStringLiteral("imaps://127.0.0.1:%1").arg(s.imapsPort());
    }

    // Probes with the field stored as the account's server, like the program does.
    int Probe(const QString& field, const std::string& user, const std::string& password) {
        harness_.StoreAccount(field.toStdString(), user, password);
        harness_.Run(field);
        EXPECT_FALSE(harness_.TimedOut());
        EXPECT_EQ(harness_.Socket().State(), Winsock::sckClosed);
        return harness_.Result();
    }

    ProbeHarness harness_;
    std::unique_ptr<TrustTestCa> trust_;
    static inline std::unique_ptr<DovecotServer> servers_[kCount];
};

TEST_F(ImapProbeDovecot, CountIsTheInboxUnseenMessages) {
    const DovecotServer& server = Start(kTrusted);
    EXPECT_EQ(Probe(Imap(server), "mixed", "pw-mixed"), 1);
    EXPECT_EQ(harness_.Count(), "2");
    EXPECT_EQ(Probe(Imap(server), "allseen", "pw-allseen"), 0);
    EXPECT_EQ(harness_.Count(), "0");
    EXPECT_EQ(Probe(Imap(server), "empty", "pw-empty"), 0);
    EXPECT_EQ(harness_.Count(), "0");
}

TEST_F(ImapProbeDovecot, WrongPasswordIsBadPassword) {
    EXPECT_EQ(Probe(Imap(Start(kTrusted)), "mixed", "pw-wrong"), -1);
    EXPECT_EQ(harness_.Count(), "");
}

TEST_F(ImapProbeDovecot, AwkwardPasswordLogsInWithAndWithoutInitialResponse) {
    EXPECT_EQ(Probe(Imap(Start(kTrusted)), "awkward", kStoredAwkward), 1);
    EXPECT_EQ(harness_.Count(), "1");
    EXPECT_EQ(Probe(Imap(Start(kNoInitialResponse)), "awkward", kStoredAwkward), 1);
    EXPECT_EQ(harness_.Count(), "1");
}

TEST_F(ImapProbeDovecot, ImapsWithATrustedCertificate) {
    TrustTestCa trust(TestCertificates::Shared());
    EXPECT_EQ(Probe(Imaps(Start(kTrusted)), "mixed", "pw-mixed"), 1);
    EXPECT_EQ(harness_.Count(), "2");
}

TEST_F(ImapProbeDovecot, ImapsRefusesCertificatesItCannotVerify) {
    TrustTestCa trust(TestCertificates::Shared());
    for (const Server which : {kSelfSigned, kWrongHost, kCommonNameOnly}) {
        SCOPED_TRACE(static_cast<int>(which));
        EXPECT_EQ(Probe(Imaps(Start(which)), "mixed", "pw-mixed"), -2);
        EXPECT_EQ(harness_.Socket().LastErrorNumber(), Winsock::sckSecureChannelFailed);
    }
    // imap:// upgrades with STARTTLS, checking the certificate the same way: no fallback.
    EXPECT_EQ(Probe(Imap(Start(kSelfSigned)), "mixed", "pw-mixed"), -2);
}

// The names of the seen messages in a maildir.
std::set<QString> Seen(const QString& maildir) {
    std::set<QString> seen;
    for (const char* sub : {"/new", "/cur"}) {
        for (const QString& name : QDir(maildir + QLatin1String(sub)).entryList(QDir::Files)) {
            const qsizetype info = name.indexOf(QStringLiteral(":2,"));
            if (info >= 0 && name.mid(info + 3).contains(u'S'))
                seen.insert(name.left(info));
        }
    }
    return seen;
}

// The headers of the unseen messages are read, and reading them marks none seen.
TEST_F(ImapProbeDovecot, AReaderGetsTheUnseenHeadersAndNothingBecomesSeen) {
    const DovecotServer& server = Start(kTrusted);
    const std::set<QString> seenBefore = Seen(server.maildir("mixed"));
    ASSERT_EQ(seenBefore.size(), 1u);
    FakeNewMessageReader reader;
    harness_.Imap().SetNewMessageReader(&reader);
    EXPECT_EQ(Probe(Imap(server), "mixed", "pw-mixed"), 1);
    EXPECT_EQ(harness_.Count(), "2");
    EXPECT_EQ(reader.present.size(), 2u);
    EXPECT_FALSE(reader.validity.isEmpty());
    ASSERT_EQ(reader.headers.size(), 2u);
    EXPECT_FALSE(reader.countOnly);
    for (const auto& fetched : reader.headers) {
        EXPECT_TRUE(fetched.header.startsWith("From: Postlark Test <sender@example.com>\r\n"));
        EXPECT_TRUE(fetched.header.contains("Subject: Test message "));
        EXPECT_FALSE(fetched.header.contains("To:")) << "only the fields asked for";
    }
    EXPECT_EQ(Seen(server.maildir("mixed")), seenBefore);
    EXPECT_EQ(Probe(Imap(server), "mixed", "pw-mixed"), 1);
    EXPECT_EQ(harness_.Count(), "2") << "still unseen for the next check";
    harness_.Imap().SetNewMessageReader(nullptr);
}

} // namespace
