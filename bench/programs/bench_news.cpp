// SPDX-License-Identifier: GPL-3.0-or-later
// Times the main window's check over 200 accounts on a local Dovecot server twice in each of
// paired rounds: with the desktop notification telling only the count, and with it naming the
// senders and subjects, which reads the header of every message not told before (600 in each
// round). Prints the ratio of processor time (user + system) with its spread; then the size of
// the told-state the notifications keep per message, and that it shrinks when the mailboxes do.
#include "BenchAccounts.h"
#include "Figures.h"
#include "ProcessorTime.h"
#include "app/PostlarkForm.h"
#include "mail/arrivals/ToldState.h"
#include "platform/system/EventDispatcherChoice.h"
#include "store/SettingsStore.h"
#include "support/DovecotServer.h"
#include "support/NotificationServer.h"
#include "support/TestEnvironment.h"
#include "support/XServer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace postlark;
using namespace postlark::bench;

namespace {

constexpr int kAccounts = 200;
constexpr int kUsers = 4;
constexpr int kMessages = 3;
constexpr int kRepeats = 9;            // timed rounds, after one warm-up round
constexpr int kRunLimitMs = 60 * 1000; // a run that takes longer is stuck
constexpr int kNotificationWaitMs = 10 * 1000;
constexpr long kCountOnly = 0; // AlertNotifyStyle values
constexpr long kDetailed = 2;
const char* const kLabel = "(i) check processor time, senders and subjects / count only";
const char* const kBytesLabel = "(i) told-state bytes per message";
const char* const kBoundLabel = "(i) told-state bytes, mailboxes of 3 messages then of 1";

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The senders and subjects the mailboxes hold, as a mail program sends them (encoded words in
// several charsets, display names) and as the notification shows them decoded.
struct Sample {
    const char* from;
    const char* subject; // the header's value; empty: subjectText in a B-encoded UTF-8 word
    const char* senderText;
    const char* subjectText;
};

const Sample kSamples[] = {
    {"=?UTF-8?Q?Zo=C3=AB_M=C3=BCller?= <zoe.mueller@example.net>", "", "Zoë Müller",
     "Protokoll der Sitzung vom 12. März"},
    {"\"Ana Costa\" <ana.costa@example.com>",
     "=?ISO-8859-1?Q?Re:_Reuni=E3o_de_or=E7amento?=", "Ana Costa", "Re: Reunião de orçamento"},
    {"=?ISO-8859-1?Q?J=FCrgen_Wei=DF?= <j.weiss@example.de>",
     "=?UTF-8?Q?Rechnung_Nr._2024-0117_=E2=80=93?=\n =?UTF-8?Q?_F=C3=A4lligkeit_Ende_Januar?=",
     "Jürgen Weiß", "Rechnung Nr. 2024-0117 – Fälligkeit Ende Januar"},
    {"=?UTF-8?Q?=C3=89mile_Durand?= <emile.durand@example.fr>",
     "=?UTF-8?Q?Fwd:_Pr=C3=A9sentation_du_projet?=", "Émile Durand", "Fwd: Présentation du projet"},
    {"=?UTF-8?B?5bGx55Sw5aSq6YOO?= <yamada@example.jp>", "", "山田太郎",
     "会議の議事録と次回の予定について"},
    {"Lena Schmidt <lena.schmidt@example.org>",
     "=?utf-8?q?Quarterly_report_draft=2C_comments_by_Friday?=", "Lena Schmidt",
     "Quarterly report draft, comments by Friday"},
};

const Sample& SampleOf(int user, int message) {
    return kSamples[(user + message) % std::size(kSamples)];
}

// The notification's line for a message: "sender — subject".
QString NotifiedLine(const Sample& s) {
    return QString::fromUtf8(s.senderText) + QStringLiteral(" \u2014 ") +
           QString::fromUtf8(s.subjectText);
}

// Base64 text of `size` bytes that differ from message to message, for the signature fields.
QByteArray Noise(quint32 seed, int size) {
    QByteArray bytes(size, '\0');
    for (char& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<char>(seed >> 24);
    }
    return bytes.toBase64();
}

// Base64 text folded into header continuation lines.
QByteArray Folded(const QByteArray& text, int width) {
    QByteArray lines;
    for (qsizetype at = 0; at < text.size(); at += width)
        lines += "\n\t  " + text.mid(at, width);
    return lines;
}

// A message with the header lines of ordinary mail from outside: delivery trace, signature,
// then the fields the notification reads.
QByteArray MessageText(const QString& user, int userIndex, int message, int generation) {
    const Sample& s = SampleOf(userIndex, message);
    const quint32 seed = quint32(generation * 1000 + userIndex * 10 + message);
    const QByteArray subject = *s.subject
                                   ? QByteArray(s.subject)
                                   : "=?UTF-8?B?" + QByteArray(s.subjectText).toBase64() + "?=";
    const QByteArray to = user.toUtf8() + "@example.org";
    const QByteArray date = "Mon, 15 Jan 2024 09:4" + QByteArray::number(message) + ":05 +0100";
    QByteArray text;
    text += "Return-Path: <bounces+" + QByteArray::number(seed) + "@mail.example.net>\n";
    text += "Delivered-To: " + to + "\n";
    text += "Received: from mail.example.net (mail.example.net [192.0.2.25])\n"
            "\tby mx.example.org (Postfix) with ESMTPS id 4TQ7Xk" +
            Noise(seed, 6) + "\n\tfor <" + to + ">; " + date + " (CET)\n";
    text += "Received: by mail.example.net with SMTP id " + Noise(seed + 1, 9).toHex().left(16) +
            "\n\tfor <" + to + ">; " + date + "\n";
    text += "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.net; s=2024;\n"
            "\tt=1705308065; bh=" +
            Noise(seed + 2, 32) +
            ";\n\th=From:To:Subject:Date:Message-ID:MIME-Version:Content-Type;\n\tb=" +
            Folded(Noise(seed + 3, 256), 64) + "\n";
    text += "From: " + QByteArray(s.from) + "\n";
    text += "To: " + to + "\n";
    text += "Subject: " + subject + "\n";
    text += "Date: " + date + "\n";
    text += "Message-ID: <" + QByteArray::number(seed) + "." + Noise(seed + 4, 6).toHex() +
            "@mail.example.net>\n";
    text += "MIME-Version: 1.0\n"
            "Content-Type: text/plain; charset=\"UTF-8\"\n"
            "Content-Transfer-Encoding: 8bit\n"
            "\n";
    for (int line = 0; line < 8; ++line)
        text += "Dies ist Zeile " + QByteArray::number(line) +
                " der Nachricht, damit sie nicht nur aus dem Kopf besteht.\n";
    return text;
}

// The files of a user's INBOX (new/ and cur/).
QStringList MessageFiles(const test::DovecotServer& server, const QString& user) {
    QStringList files;
    for (const char* sub : {"/new", "/cur"}) {
        const QDir folder(server.maildir(user) + QLatin1String(sub));
        for (const QString& name : folder.entryList(QDir::Files))
            files << folder.filePath(name);
    }
    return files;
}

// Every user's mailbox emptied and filled with kMessages new messages; the lines their
// notification shows go to `lines`.
bool ReplaceMessages(test::DovecotServer& server, const QList<test::DovecotUser>& users,
                     int generation, QSet<QString>* lines) {
    lines->clear();
    for (int u = 0; u < users.size(); ++u) {
        for (const QString& file : MessageFiles(server, users[u].name)) {
            if (!QFile::remove(file))
                return false;
        }
        for (int m = 0; m < kMessages; ++m) {
            if (!server.deliverTo(users[u].name, {}, MessageText(users[u].name, u, m, generation)))
                return false;
            lines->insert(NotifiedLine(SampleOf(u, m)));
        }
    }
    return true;
}

// Takes away all but one message of every mailbox.
bool KeepOneMessage(const test::DovecotServer& server, const QList<test::DovecotUser>& users) {
    for (const test::DovecotUser& user : users) {
        const QStringList files = MessageFiles(server, user.name);
        if (files.size() != kMessages)
            return false;
        for (int i = 1; i < files.size(); ++i) {
            if (!QFile::remove(files[i]))
                return false;
        }
    }
    return true;
}

struct FolderSize {
    int files = 0;
    qint64 bytes = 0;
};

FolderSize SizeOf(const QString& folder) {
    FolderSize size;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        ++size.files;
        size.bytes += file.size();
    }
    return size;
}

// Rows whose "New Mail?" column does not show `count`.
int WrongRows(QTreeWidget* list, int count) {
    const QString expected = QStringLiteral("Yes, %1").arg(count);
    int wrong = kAccounts - list->topLevelItemCount();
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(1) != expected)
            ++wrong;
    }
    return wrong;
}

// A notification's body on one line, shortened, for a message that quotes it.
std::string OneLine(const QString& body) {
    return body.left(200).replace(u'\n', QStringLiteral(" / ")).toStdString();
}

// Why the detailed notification's body is not five "sender — subject" lines of the messages
// delivered and "and 595 more"; empty when it is.
std::string DetailedBodyProblem(const QString& body, const QSet<QString>& lines) {
    const QStringList got = body.split(u'\n');
    const QString more =
        QStringLiteral("and %1 more").arg(kAccounts * kMessages - (got.size() - 1));
    if (got.size() != 6 || got.back() != more)
        return "its body was \"" + OneLine(body) + "\"";
    for (int i = 0; i + 1 < got.size(); ++i) {
        if (!lines.contains(got[i]))
            return "it named \"" + got[i].toStdString() + "\", no message delivered";
    }
    return {};
}

} // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    test::TestEnvironment environment; // settings and runtime folders in a temporary folder
    // The told-state files in a folder of our own, emptied before each round that reads headers.
    const QString toldFolder = environment.path() + QStringLiteral("/state/postlark");
    qputenv("XDG_STATE_HOME", (environment.path() + QStringLiteral("/state")).toLocal8Bit());
    ChooseEventDispatcher(); // as the program does
    QApplication app(argc, argv);
    EndEventDispatcherChoice();
    QApplication::setQuitOnLastWindowClosed(false);

    QString why;
    if (!test::DovecotServer::Available(&why)) {
        ReportMissing(kLabel, why.toStdString());
        return 1;
    }
    // A notification server on a private bus, so that every check's notification is shown
    // as on a desktop, and the detailed one can be read back.
    const QString missing = test::XServer::missingPrograms(test::XServer::Options{}) +
                            test::NotificationServer::missingPrograms();
    if (!missing.isEmpty()) {
        ReportMissing(kLabel, missing.toStdString());
        return 1;
    }
    test::XServer x(test::XServer::Options{});
    if (!x.failure().isEmpty()) {
        ReportMissing(kLabel,
                      "no X display for the notification server: " + x.failure().toStdString());
        return 1;
    }
    test::NotificationServer notifications(&x);
    if (!notifications.failure().isEmpty()) {
        ReportMissing(kLabel, notifications.failure().toStdString());
        return 1;
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", notifications.busAddress().toLocal8Bit());

    QList<test::DovecotUser> users;
    std::vector<Pop3Login> logins;
    for (int u = 0; u < kUsers; ++u) {
        const QString name = QStringLiteral("news%1").arg(u);
        const QString password = QStringLiteral("pw-%1-news").arg(u);
        users << test::DovecotUser{name, password, 0};
        logins.push_back({name.toStdString(), password.toStdString()});
    }
    test::DovecotServer server(users);
    if (!server.start(&why)) {
        ReportMissing(kLabel, "Dovecot did not start");
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return 1;
    }
    int generation = 0;
    QSet<QString> delivered; // the notification lines of the messages in the mailboxes
    if (!ReplaceMessages(server, users, generation, &delivered)) {
        ReportMissing(kLabel, "the messages could not be placed in the mailboxes");
        return 1;
    }
    StoreBenchAccounts(kAccounts, "127.0.0.1:" + std::to_string(server.port()), logins);
    // The notification on; no alert that waits for the user or starts anything.
    SettingsStore::Apply({SettingsStore::Change::Set("AlertNotify", "1"),
                          SettingsStore::Change::Set("AlertNotifyStyle", "0"),
                          SettingsStore::Change::Set("AlertMsg", "0"),
                          SettingsStore::Change::Set("AlertLaunch", "0"),
                          SettingsStore::Change::Set("AlertPopUp", "0"),
                          SettingsStore::Change::Set("AlertSound", "0")});

    PostlarkForm form({});
    if (!form.Form_Load()) {
        ReportMissing(kLabel, "the main window did not load");
        return 1;
    }
    auto* list = form.findChild<QTreeWidget*>("AccountList");

    // A run that never ends would hold the benchmark for ever: give up on it.
    QTimer limit;
    limit.setSingleShot(true);
    limit.setInterval(kRunLimitMs);
    QObject::connect(&limit, &QTimer::timeout, [&] {
        ReportMissing(kLabel, "a check run did not end within a minute");
        server.stop();
        std::_Exit(1);
    });

    // One check in the given notification style; its processor and wall seconds. Before a
    // detailed check every mailbox gets new messages and the told-state folder is emptied: the
    // window keeps what it read of the told-state in memory, so only messages it has not seen
    // make it read their headers. Empty on failure, with the reason in *problem.
    struct Run {
        double cpu = 0, wall = 0;
    };
    int shown = 0; // notifications received so far
    std::string problem;
    const auto check = [&](long style, int expectedCount, bool fresh) -> std::optional<Run> {
        SettingsStore::SaveValue("AlertNotifyStyle", std::to_string(style));
        if (fresh) {
            if (!ReplaceMessages(server, users, ++generation, &delivered)) {
                problem = "the messages could not be replaced";
                return {};
            }
            const QDir folder(toldFolder);
            for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden))
                QFile::remove(folder.filePath(name));
        }
        QCoreApplication::processEvents(); // what the last round left, outside the timing
        limit.start();
        const double cpuStart = ProcessorSeconds();
        const auto start = std::chrono::steady_clock::now();
        form.menu_Checknow_Click();
        // The told state is written a second after a check; its writing is counted here.
        ToldState::Flush();
        const Run run{ProcessorSeconds() - cpuStart,
                      Seconds(std::chrono::steady_clock::now() - start)};
        limit.stop();
        if (const int wrong = WrongRows(list, expectedCount)) {
            problem = std::to_string(wrong) + " of " + std::to_string(kAccounts) +
                      " accounts did not show their mail";
            return {};
        }
        if (!notifications.waitForReceived(++shown, kNotificationWaitMs)) {
            problem = "the check showed no notification";
            return {};
        }
        const QString body = notifications.received().back().body;
        if (style == kDetailed && fresh) {
            const std::string wrongBody = DetailedBodyProblem(body, delivered);
            if (!wrongBody.empty()) {
                problem = "the notification did not name the new messages: " + wrongBody;
                return {};
            }
        } else if (style == kCountOnly && body != QStringLiteral("%1 new messages in %2 accounts")
                                                      .arg(kAccounts * kMessages)
                                                      .arg(kAccounts)) {
            problem = "the count notification read \"" + OneLine(body) + "\"";
            return {};
        }
        return run;
    };

    // Paired rounds: each round runs both checks, and which goes first alternates, so a change
    // in the machine's load during the run touches both alike.
    std::vector<double> ratios, countCpu, detailedCpu, countWall, detailedWall;
    FolderSize told;
    for (int round = 0; round <= kRepeats; ++round) {
        std::optional<Run> count, detailed;
        const auto runDetailed = [&] {
            detailed = check(kDetailed, kMessages, true);
            told = SizeOf(toldFolder);
            if (detailed && told.files != 1) {
                problem = "the told-state folder held " + std::to_string(told.files) +
                          " files after the check, not the one file";
                detailed.reset();
            }
        };
        if (round % 2 == 0) {
            count = check(kCountOnly, kMessages, false);
            if (count)
                runDetailed();
        } else {
            runDetailed();
            if (detailed)
                count = check(kCountOnly, kMessages, false);
        }
        if (!count || !detailed) {
            ReportMissing(kLabel, problem);
            return 1;
        }
        if (round == 0)
            continue; // warm-up
        countCpu.push_back(count->cpu);
        detailedCpu.push_back(detailed->cpu);
        countWall.push_back(count->wall);
        detailedWall.push_back(detailed->wall);
        ratios.push_back(detailed->cpu / count->cpu);
    }

    const int toldMessages = kAccounts * kMessages;
    qsizetype headerBytes = 0;
    for (int u = 0; u < kUsers; ++u) {
        for (int m = 0; m < kMessages; ++m)
            headerBytes += MessageText(users[u].name, u, m, generation).indexOf("\n\n") + 1;
    }
    const double extraCpu = Median(detailedCpu) - Median(countCpu);
    std::printf("(i) %d accounts, %d Dovecot users with %d messages each (%d header bytes on "
                "average), %d paired rounds:\n"
                "    count only %s ms processor (%s s wall), senders and subjects %s ms processor "
                "(%s s wall, %d headers read), medians; %s ms processor per header read\n",
                kAccounts, kUsers, kMessages, int(headerBytes / (kUsers * kMessages)), kRepeats,
                Fixed(Median(countCpu) * 1000, 1).c_str(), Fixed(Median(countWall), 3).c_str(),
                Fixed(Median(detailedCpu) * 1000, 1).c_str(),
                Fixed(Median(detailedWall), 3).c_str(), toldMessages,
                Fixed(extraCpu * 1000 / toldMessages, 3).c_str());
    ReportRounds(kLabel, ratios, 2, "", "<= 1.3", [](double r) { return r <= 1.3; });

    // What the last detailed check left: one file, each message of each account told in it.
    const double perMessage = double(told.bytes) / toldMessages;
    ReportFigure(kBytesLabel,
                 Fixed(perMessage, 1) + " (" + std::to_string(told.bytes) + " bytes in " +
                     std::to_string(told.files) + " files for " + std::to_string(toldMessages) +
                     " messages)",
                 "<= 100", perMessage <= 100);

    // Bounded: once two of every mailbox's three messages are gone, the next check keeps only
    // the one left (each account's section keeps its name line).
    const FolderSize before = SizeOf(toldFolder);
    if (!KeepOneMessage(server, users)) {
        ReportMissing(kBoundLabel, "the messages could not be taken away");
        return 1;
    }
    if (!check(kDetailed, 1, false)) {
        ReportMissing(kBoundLabel, problem);
        return 1;
    }
    const FolderSize after = SizeOf(toldFolder);
    ReportFigure(kBoundLabel,
                 "before " + std::to_string(before.bytes) + ", after " +
                     std::to_string(after.bytes) + " (" + std::to_string(after.files) +
                     " files, after / before " +
                     Fixed(before.bytes ? double(after.bytes) / double(before.bytes) : 0, 2) + ")",
                 "smaller, <= 100 per message left",
                 after.files == 1 && after.bytes < before.bytes && after.bytes <= 100 * kAccounts);
    server.stop();
    return 0;
}
