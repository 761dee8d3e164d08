// SPDX-License-Identifier: GPL-3.0-or-later
// Backing up the accounts to a file and restoring them, from the menu and from the command
// line, against a store in a temporary folder. Questions and file dialogs are answered
// through the modal seam.
#include "app/PostlarkForm.h"
#include "platform/shell/ShellNotify.h"
#include "platform/system/ProfileString.h"
#include "platform/system/SingleInstance.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/BackupFile.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace postlark {
namespace {

const char* const kAbsent = "<absent>";
const char* const kProceed = "Restoring settings will overwrite any current settings!  Proceed?";

std::string ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kAbsent;
    return file.readAll().toStdString();
}

void WriteBytes(const QString& path, const std::string& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes.data(), qint64(bytes.size()));
}

// The hex form of a stored password as the file holds it, worked out here independently:
// two upper-case digits per byte, one space between pairs.
std::string Hex(const std::string& bytes) {
    std::string hex;
    for (const char c : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
        hex += (hex.empty() ? "" : " ") + std::string(pair);
    }
    return hex;
}

// What happens to the files of one folder from construction until Count: files created,
// renamed into place and opened, told by the folder's change notifications.
class FolderEvents {
public:
    explicit FolderEvents(const QString& folder)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          watch_(::inotify_add_watch(fd_, folder.toLocal8Bit().constData(),
                                     // Closes keep repeated opens apart: the kernel
                                     // merges an event equal to the one before it.
                                     IN_CREATE | IN_MOVED_TO | IN_OPEN | IN_CLOSE)) {
        EXPECT_GE(watch_, 0);
    }
    ~FolderEvents() { ::close(fd_); }
    FolderEvents(const FolderEvents&) = delete;
    FolderEvents& operator=(const FolderEvents&) = delete;

    // The events of this kind so far, on the file `name` or (empty) on any file.
    int Count(std::uint32_t mask, const std::string& name = {}) {
        alignas(inotify_event) char buffer[65536];
        for (ssize_t got; (got = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                seen_.emplace_back(event->mask, event->len ? event->name : "");
                at += sizeof(inotify_event) + event->len;
            }
        }
        return int(std::count_if(seen_.begin(), seen_.end(), [&](const auto& event) {
            return (event.first & mask) && (name.empty() || event.second == name);
        }));
    }

private:
    int fd_;
    int watch_;
    std::vector<std::pair<std::uint32_t, std::string>> seen_;
};

class BackupRestoreTest : public ::testing::Test {
protected:
    void SetUp() override { win::SetNotificationAreaOverride(true); }
    void TearDown() override {
        form_.reset();
        win::SetNotificationAreaOverride(std::nullopt);
    }

    PostlarkForm& Load(QStringList arguments = {}) {
        form_.reset();
        form_ = std::make_unique<PostlarkForm>(std::move(arguments));
        EXPECT_TRUE(form_->Form_Load());
        return *form_;
    }
    QString File(const QString& name) const { return env_.path() + "/" + name; }
    QStringList Rows() const {
        auto* list = form_->findChild<QTreeWidget*>("AccountList");
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            rows << list->topLevelItem(i)->text(0);
        return rows;
    }
    // Runs the command with message boxes answered by `button` and file dialogs by `file`
    // (empty: cancelled); returns the questions asked.
    std::vector<ModalQuestion> Answering(const std::function<void()>& command, int button,
                                         const QString& file) {
        ScopedModalAnswerer answerer([&](const ModalQuestion& q) {
            if (q.kind == ModalQuestion::Kind::MessageBox)
                return ModalAnswer::Button(q.buttons % 16 == vbYesNo ? button : vbOK);
            return file.isEmpty() ? ModalAnswer::Cancel() : ModalAnswer::File(file);
        });
        command();
        return ModalQuestionsAsked();
    }
    std::vector<ModalQuestion> Backup(const QString& file) {
        return Answering([this] { form_->menu_backup_Click(); }, vbYes, file);
    }
    std::vector<ModalQuestion> Restore(const QString& file, int answer = vbYes) {
        return Answering([this] { form_->menu_restore_Click(); }, answer, file);
    }
    std::vector<AccountRecord> StoredAccounts() const {
        std::vector<AccountRecord> accounts;
        const long count = SettingsStore::GetInteger("NumAccts", 0);
        for (long i = 0; i < count; ++i)
            accounts.push_back(ReadAccount(i, kAbsent));
        return accounts;
    }
    void Store(const std::vector<AccountRecord>& accounts) {
        for (std::size_t i = 0; i < accounts.size(); ++i)
            AddAccount(long(i), accounts[i]);
    }

    test::TestEnvironment env_;
    std::unique_ptr<PostlarkForm> form_;
};

void ExpectOnlyMessage(const std::vector<ModalQuestion>& asked, const char* text, int style) {
    ASSERT_FALSE(asked.empty());
    int messages = 0;
    for (const ModalQuestion& q : asked)
        messages += q.kind == ModalQuestion::Kind::MessageBox && q.buttons % 16 == vbOKOnly;
    EXPECT_EQ(messages, 1) << "one message, not one per entry";
    EXPECT_EQ(asked.back().prompt, text);
    EXPECT_EQ(asked.back().buttons, style);
    EXPECT_EQ(asked.back().title, "Postlark");
}

TEST_F(BackupRestoreTest, BackupOfTwoAccountsWritesExactlyTheFileLayout) {
    Store({{"ann@example.org", "pop.example.org", "ann", "\x88\x99\xA6", "mutt"},
           {"bob@example.net", "mail.example.net", "bob", "\xC8\x95", ""}});
    Load();
    EXPECT_TRUE(form_->findChild<QAction*>("menu_backup")->isEnabled());
    EXPECT_TRUE(form_->findChild<QAction*>("menu_restore")->isEnabled());

    const auto asked = Backup(File("accounts.pls"));
    ASSERT_EQ(asked.size(), 1u) << "no message after a good backup";
    EXPECT_EQ(asked[0].kind, ModalQuestion::Kind::SaveFile);
    EXPECT_EQ(asked[0].filter, "Postlark Settings (*.pls)|*.pls");

    // The layout checked line by line, without the program's own reader.
    EXPECT_EQ(ReadBytes(File("accounts.pls")), "[Postlark]\r\n"
                                               "EmailAddress0=ann@example.org\r\n"
                                               "EmailAddress1=bob@example.net\r\n"
                                               "POP0=pop.example.org\r\n"
                                               "POP1=mail.example.net\r\n"
                                               "UserName0=ann\r\n"
                                               "UserName1=bob\r\n"
                                               "Password0=88 99 A6\r\n"
                                               "Password1=C8 95\r\n"
                                               "Program0=mutt\r\n"
                                               "Program1=\r\n"
                                               "NumAccts=2\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(File("accounts.pls").toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds the stored passwords";
}

TEST_F(BackupRestoreTest, BackupThenRestoreGivesBackEveryFieldByteForByte) {
    Load();
    std::string key = form_->ApplicationKey();
    const std::string password40 = "Pa55-word/with:forty.characters_0123456!";
    ASSERT_EQ(password40.size(), 40u);
    const std::string program80 = "/opt/mail client/bin/" + std::string(53, 'p') + " --new";
    ASSERT_EQ(program80.size(), 80u);
    const std::vector<AccountRecord> accounts = {
        {"ann@example.org", "pop3s://pop.example.org", " spaced user ",
         PassCryptModule::EncryptText(password40, key), program80},
        {"bob@example.net", "\"quoted\"", "a=b", "", ""},
        {"m\xFCller@example.de", "imaps://[2001:db8::7]:1993", "'x'",
         PassCryptModule::EncryptText("\xE4", key),
         "C:\\Programs\\mail.exe /check " + std::string(300, 'x')}}; // longer than any first buffer
    Store(accounts);
    form_->ReDraw();
    ASSERT_EQ(Backup(File("round.pls")).size(), 1u);
    // Only the first 40-character password stands in the file, in hex.
    EXPECT_NE(
        ReadBytes(File("round.pls")).find("\r\nPassword0=" + Hex(accounts[0].Password) + "\r\n"),
        std::string::npos);

    // Something else is stored meanwhile: four other accounts.
    SettingsStore::Apply({SettingsStore::Change::Set("NumAccts", "0")});
    for (long i = 0; i < 4; ++i)
        AddAccount(i, {"other" + std::to_string(i), "p", "u", "w", "x"});
    form_->ReDraw();

    const auto asked = Restore(File("round.pls"));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].prompt, kProceed);
    EXPECT_EQ(asked[0].buttons, vbYesNo + vbQuestion);
    EXPECT_EQ(asked[1].kind, ModalQuestion::Kind::OpenFile);
    EXPECT_EQ(StoredAccounts(), accounts);
    EXPECT_EQ(SettingsStore::GetValue("Program1", kAbsent), "") << "an empty program is stored";
    EXPECT_EQ(SettingsStore::GetValue("EmailAddress3", kAbsent), kAbsent);
    EXPECT_EQ(PassCryptModule::DecryptText(ReadAccount(0, "").Password, key), password40);
    EXPECT_EQ(Rows(),
              QStringList({"ann@example.org", "bob@example.net", "m\u00FCller@example.de"}));
}

TEST_F(BackupRestoreTest, BackupIntoAnOlderLargerBackupDropsItsSurplusAccountsOnly) {
    WriteBytes(File("old.pls"), "; my notes\r\n"
                                "[Other]\r\nKeep=1\r\n\r\n"
                                "[Postlark]\r\n"
                                "EmailAddress0=old0\r\nEmailAddress1=old1\r\nEmailAddress2=old2\r\n"
                                "POP0=p\r\nPOP1=p\r\nPOP2=p\r\nUserName0=u\r\nUserName1=u\r\n"
                                "UserName2=u\r\nPassword0=01\r\nPassword1=01\r\nPassword2=01\r\n"
                                "Program0=\r\nProgram1=\r\nProgram2=\r\nNumAccts=3\r\npop7=x\r\n"
                                "Comment=kept\r\n");
    Store({{"new@example.org", "pop.new", "me", "\x65", "run"}});
    Load();
    ASSERT_EQ(Backup(File("old.pls")).size(), 1u);
    EXPECT_EQ(ReadBytes(File("old.pls")), "; my notes\r\n"
                                          "[Other]\r\nKeep=1\r\n\r\n"
                                          "[Postlark]\r\n"
                                          "EmailAddress0=new@example.org\r\n"
                                          "POP0=pop.new\r\nUserName0=me\r\nPassword0=65\r\n"
                                          "Program0=run\r\nNumAccts=1\r\nComment=kept\r\n");
}

TEST_F(BackupRestoreTest, BackupOverAFileOthersCouldReadLeavesItOwnerOnly) {
    Store({{"a@example.org", "pop", "u", "pw", ""}});
    Load();
    for (const mode_t before : {0644, 0666, 0755, 0400}) {
        SCOPED_TRACE(before);
        const QString name = File("shared.pls");
        QFile::remove(name);
        WriteBytes(name, "[Postlark]\r\nNumAccts=0\r\n");
        ASSERT_EQ(::chmod(name.toLocal8Bit().constData(), before), 0);
        ASSERT_EQ(Backup(name).size(), 1u);
        struct stat info {};
        ASSERT_EQ(::stat(name.toLocal8Bit().constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_NE(ReadBytes(name).find("EmailAddress0=a@example.org"), std::string::npos);
    }
}

// The backup's file, byte for byte, against the profile engine writing the same entries one
// at a time into the same starting file and then deleting the older backup's surplus.
TEST_F(BackupRestoreTest, BackupWritesWhatTheEngineWritesEntryByEntry) {
    const std::vector<AccountRecord> accounts = {
        {"ann@example.org", " pop.example.org ", "\"ann\"", "\x88\x99\xA6", "mutt -f '=x'"},
        {"b\xF6"
         "b@example.net",
         "mail.example.net", "bob", "", ""},
        {"\"quoted\"", "'single'", "[x];y=z", std::string("nul\0cut", 7), " both "}};
    Store(accounts);
    Load();
    const std::vector<std::string> starts = {
        kAbsent, "", "no line end at all",
        "; notes\n[other]\nKeep=1\n\n[postlark]\npop0 = old\nPOP5=x\npop5=y\n"
        "Comment=kept\nNUMACCTS=9\n\n[Third]\na=b",
        "[Postlark]\r\nEmailAddress0=old0\r\nEmailAddress1=old1\r\nEmailAddress2=old2\r\n"
        "Program2=p\r\nNumAccts=3\r\n[Postlark]\r\nEmailAddress0=second section\r\n"};
    for (std::size_t n = 0; n < starts.size(); ++n) {
        SCOPED_TRACE(starts[n]);
        const QString file = File(QString("start%1.pls").arg(n));
        const std::string reference = File(QString("reference%1.pls").arg(n)).toStdString();
        if (starts[n] != kAbsent) {
            WriteBytes(file, starts[n]);
            WriteBytes(QString::fromStdString(reference), starts[n]);
        }
        for (const BackupFile::Entry& entry : BackupFile::BackupEntries(accounts)) {
            ASSERT_TRUE(win::WritePrivateProfileStringA(BackupFile::Section, entry.Name.c_str(),
                                                        entry.Value.c_str(), reference.c_str()));
        }
        std::vector<char> names(65536);
        const win::DWORD got =
            win::GetPrivateProfileStringA(BackupFile::Section, nullptr, "", names.data(),
                                          win::DWORD(names.size()), reference.c_str());
        for (std::size_t at = 0; at < got; at += std::strlen(names.data() + at) + 1) {
            if (BackupFile::IsSurplusEntry(names.data() + at, long(accounts.size())))
                win::WritePrivateProfileStringA(BackupFile::Section, names.data() + at, nullptr,
                                                reference.c_str());
        }

        ASSERT_EQ(Backup(file).size(), 1u);
        EXPECT_EQ(ReadBytes(file), ReadBytes(QString::fromStdString(reference)));
    }
}

// A new backup file's text is made without the profile engine; it must be the engine's bytes
// for an empty file, for odd values and for the most accounts a backup can hold.
TEST(BackupNewFileText, IsTheEnginesTextForAnEmptyFile) {
    const auto engineText = [](const std::vector<win::ProfileText::KeyValue>& entries,
                               bool oneByOne) -> std::optional<std::string> {
        win::ProfileText text;
        if (oneByOne) {
            for (const auto& [key, value] : entries) {
                if (!text.Write(BackupFile::Section, key, value))
                    return std::nullopt;
            }
        } else if (!text.Write(BackupFile::Section, entries)) {
            return std::nullopt;
        }
        return text.Text();
    };
    const auto expectSame = [&](const std::vector<AccountRecord>& accounts, bool oneByOne) {
        const std::vector<BackupFile::Entry> entries = BackupFile::BackupEntries(accounts);
        std::vector<win::ProfileText::KeyValue> pairs;
        for (const BackupFile::Entry& entry : entries)
            pairs.emplace_back(entry.Name.c_str(), entry.Value.c_str());
        const std::optional<std::string> fast =
            win::ProfileText::NewSectionText(BackupFile::Section, pairs);
        ASSERT_TRUE(fast.has_value());
        EXPECT_EQ(*fast, engineText(pairs, oneByOne));
    };

    const std::vector<AccountRecord> odd = {
        {"", "", "", "", ""},
        {" lead@example.org", "trail.example.org ", "\tab\t", " ", "  "},
        {"a=b@example.org", "pop;993", "user=;x", "p=w;d\"", "cmd --x=1 ; echo"},
        {"\"quoted\"", "'single'", "\"", "'", "\"mixed'"},
        {"[not a section]", ";not a comment", "=", "\xFF\xFE\x80", "\xE9t\xE9 \xC3\xA9"},
        {"\x01"
         "ctl@example.org",
         "x", "\"\"", "''", " \"both\" "}};
    {
        SCOPED_TRACE("odd values, one write per entry");
        expectSame(odd, true);
    }
    {
        SCOPED_TRACE("the most accounts a backup holds");
        std::vector<AccountRecord> many(32767);
        for (std::size_t i = 0; i < many.size(); ++i) {
            many[i] = odd[i % odd.size()];
            many[i].Field(0) += std::to_string(i);
        }
        expectSame(many, false);
    }
    {
        SCOPED_TRACE("no accounts");
        expectSame({}, true);
    }

    // What the engine refuses, the direct text refuses too.
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"Key", "line\nbreak"}, {"Key", "cr\rhere"}, {"a=b", "v"}, {" Key", "v"}, {";Key", "v"}};
    for (const auto& [key, value] : refused) {
        SCOPED_TRACE(key + " / " + value);
        const std::vector<win::ProfileText::KeyValue> pairs = {{"Good", "1"},
                                                               {key.c_str(), value.c_str()}};
        EXPECT_FALSE(win::ProfileText::NewSectionText(BackupFile::Section, pairs).has_value());
        EXPECT_FALSE(engineText(pairs, false).has_value());
    }
}

// A refill of as many rows as the list has changes the rows in place; the list must then be
// what a list rebuilt from scratch is: every row's texts and tool tips, the selected and the
// current row, the scroll position, and the row a lost selection comes back to.
TEST_F(BackupRestoreTest, RefillOfAsManyRowsShowsWhatARebuiltListShows) {
    struct Shown {
        std::vector<std::string> rows; // texts and tool tips of both columns, one apart
        std::vector<int> selected;
        int current = -1, scroll = -1, reselected = -1;
        bool operator==(const Shown&) const = default;
    };
    constexpr int kRows = 60, kSelected = 45;
    const auto account = [](int i, const char* tag) {
        return AccountRecord{"user" + std::to_string(i) + tag + "@example.org", "pop.example.org",
                             "u", "p", ""};
    };
    // Fills the store with `before` accounts, loads the list and marks it as a check would,
    // then stores kRows changed accounts and refills the list.
    const auto refill = [&](int before) {
        std::vector<AccountRecord> accounts;
        for (int i = 0; i < before; ++i)
            accounts.push_back(account(i, "-old"));
        BackupFile::ReplaceAccounts(accounts, 0);
        Load();
        auto* list = form_->findChild<QTreeWidget*>("AccountList");
        for (int i = 0; i < list->topLevelItemCount(); i += 3) {
            list->topLevelItem(i)->setText(1, "Yes");
            list->topLevelItem(i)->setToolTip(1, "3 new messages");
            list->topLevelItem(i)->setToolTip(0, "row tip");
        }
        list->setCurrentItem(list->topLevelItem(kSelected));
        list->verticalScrollBar()->setValue(3);
        accounts.resize(kRows);
        for (int i = 0; i < kRows; ++i)
            accounts[std::size_t(i)] = account(i, i % 2 ? "-new" : "-old");
        BackupFile::ReplaceAccounts(accounts, before);
        form_->ReDraw();

        Shown shown;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(i);
            shown.rows.push_back(
                QStringList{item->text(0), item->text(1), item->toolTip(0), item->toolTip(1)}
                    .join('|')
                    .toStdString());
        }
        for (QTreeWidgetItem* item : list->selectedItems())
            shown.selected.push_back(list->indexOfTopLevelItem(item));
        shown.current = list->indexOfTopLevelItem(list->currentItem());
        shown.scroll = list->verticalScrollBar()->value();
        list->clearSelection();
        const QList<QTreeWidgetItem*> again = list->selectedItems();
        shown.reselected = again.size() == 1 ? list->indexOfTopLevelItem(again.first()) : -1;
        return shown;
    };
    const Shown rebuilt = refill(kRows + 5);
    const Shown inPlace = refill(kRows);
    ASSERT_EQ(inPlace.rows.size(), std::size_t(kRows));
    EXPECT_EQ(inPlace.rows[1], "user1-new@example.org|||");
    EXPECT_EQ(inPlace.selected, std::vector<int>{kSelected});
    EXPECT_EQ(inPlace.rows, rebuilt.rows);
    EXPECT_EQ(inPlace.selected, rebuilt.selected);
    EXPECT_EQ(inPlace.current, rebuilt.current);
    EXPECT_EQ(inPlace.scroll, rebuilt.scroll);
    EXPECT_EQ(inPlace.reselected, rebuilt.reselected);
}

// 200 accounts: the backup puts one new file in place, once; the restore opens the file once.
TEST_F(BackupRestoreTest, BackupWritesTheFileOnceAndRestoreReadsItOnce) {
    SettingsStore::Update([](const SettingsStore::Lookup&) {
        std::vector<SettingsStore::Change> changes;
        for (long i = 0; i < 200; ++i) {
            const AccountRecord account{"user" + std::to_string(i) + "@example.org",
                                        "pop" + std::to_string(i) + ".example.org", "user",
                                        "\x01\x02\x03\x04\x05\x06\x07\x08", "/usr/bin/mutt"};
            for (std::size_t f = 0; f < AccountFields.size(); ++f)
                changes.push_back(
                    SettingsStore::Change::Set(AccountKey(AccountFields[f], i), account.Field(f)));
        }
        changes.push_back(SettingsStore::Change::Set("NumAccts", "200"));
        return changes;
    });
    Load();
    ASSERT_TRUE(QDir(env_.path()).mkdir("backups"));
    const QString file = File("backups/many.pls");
    WriteBytes(file, "[Postlark]\r\nNumAccts=0\r\n");

    QElapsedTimer clock;
    clock.start();
    {
        FolderEvents events(File("backups"));
        ASSERT_EQ(Backup(file).size(), 1u);
        EXPECT_EQ(events.Count(IN_CREATE), 1) << "one temporary file";
        EXPECT_EQ(events.Count(IN_MOVED_TO), 1) << "one replacement";
        EXPECT_EQ(events.Count(IN_MOVED_TO, "many.pls"), 1);
    }
    const std::string written = ReadBytes(file);
    EXPECT_NE(written.find("[Postlark]\r\nNumAccts=200\r\nEmailAddress0="), std::string::npos);
    EXPECT_NE(written.find("\r\nProgram199=/usr/bin/mutt\r\n"), std::string::npos);

    SettingsStore::SaveValue("EmailAddress7", "changed@example.org");
    {
        FolderEvents events(File("backups"));
        ASSERT_EQ(Restore(file).size(), 2u);
        EXPECT_EQ(events.Count(IN_OPEN, "many.pls"), 1) << "the file is read once";
        EXPECT_EQ(events.Count(IN_CREATE | IN_MOVED_TO), 0);
    }
    EXPECT_EQ(SettingsStore::GetValue("EmailAddress7"), "user7@example.org");
    EXPECT_EQ(Rows().size(), 200);
    // A sanity bound far above what one read and one write take, far below one write per entry.
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(BackupRestoreTest, BackupFromAListAnotherCopyMadeStaleHoldsEveryStoredAccount) {
    Store({{"a@example.org", "pop", "u", "", ""}});
    Load();
    AddAccount(1, {"added.elsewhere@example.org", "pop", "u", "", ""});
    ASSERT_EQ(Backup(File("all.pls")).size(), 1u);
    const std::string file = ReadBytes(File("all.pls"));
    EXPECT_NE(file.find("EmailAddress1=added.elsewhere@example.org\r\n"), std::string::npos);
    EXPECT_NE(file.find("\r\nNumAccts=2\r\n"), std::string::npos);
    EXPECT_EQ(Rows(), QStringList({"a@example.org", "added.elsewhere@example.org"}));
}

TEST_F(BackupRestoreTest, FailedBackupShowsOneMessageAndLeavesTheFileAsItWas) {
    Store({{"a@example.org", "pop", "u", "pw", "one"}, {"b@example.org", "pop", "u", "pw", "x"}});
    // A value no line of the file can hold, met half-way through the backup.
    SettingsStore::SaveValue("Program1", "two\nlines");
    Load();
    const std::string before = "[Postlark]\r\nNumAccts=7\r\n";
    WriteBytes(File("kept.pls"), before);
    ExpectOnlyMessage(Backup(File("kept.pls")), "Error writing to file.", vbExclamation);
    EXPECT_EQ(ReadBytes(File("kept.pls")), before);
    ExpectOnlyMessage(Backup(File("new.pls")), "Error writing to file.", vbExclamation);
    EXPECT_EQ(QDir(env_.path()).entryList({"*.pls*", ".*.pls*"}, QDir::Files | QDir::Hidden),
              QStringList({"kept.pls"}))
        << "no temporary file left";

    ASSERT_TRUE(QDir(env_.path()).mkdir("folder.pls"));
    ExpectOnlyMessage(Backup(File("folder.pls")), "Error writing to file.", vbExclamation);
    ExpectOnlyMessage(Backup(File("no/such/folder/x.pls")), "Error writing to file.",
                      vbExclamation);
}

TEST_F(BackupRestoreTest, BackupOfAnEmptyListOrACancelledOneWritesNothing) {
    Load();
    auto asked = Backup(File("empty.pls"));
    ASSERT_EQ(asked.size(), 1u) << "no file dialog";
    EXPECT_EQ(asked[0].prompt, "No  accounts in list.  Nothing to back up.");
    EXPECT_EQ(asked[0].buttons, vbInformation);
    EXPECT_EQ(asked[0].title, "Postlark");

    Store({{"a@example.org", "pop", "u", "pw", ""}});
    form_->ReDraw();
    asked = Backup(QString());
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(ReadBytes(File("empty.pls")), kAbsent);
}

TEST_F(BackupRestoreTest, RestoreOfADamagedFileLeavesStoreAndListUntouched) {
    Store({{"a@example.org", "pop.a", "ua", "pa", ""}, {"b@example.org", "pop.b", "ub", "pb", ""}});
    Load();
    ASSERT_EQ(Backup(File("good.pls")).size(), 1u);
    const std::string good = ReadBytes(File("good.pls"));
    const auto without = [&](const std::string& line) {
        std::string text = good;
        text.erase(text.find(line), line.size());
        return text;
    };
    WriteBytes(File("truncated.pls"), good.substr(0, good.size() / 2));
    WriteBytes(File("nopop1.pls"), without("POP1=pop.b\r\n"));
    std::string badHex = good;
    badHex.replace(badHex.find("Password1=") + 10, 2, "7g");
    WriteBytes(File("badhex.pls"), badHex);
    ASSERT_TRUE(QDir(env_.path()).mkdir("folder.pls"));

    // Accounts that the damaged files must not replace.
    SettingsStore::Apply({SettingsStore::Change::Set("EmailAddress0", "kept@example.org")});
    form_->ReDraw();
    const std::string store = ReadBytes(QString::fromStdString(SettingsStore::FilePath()));
    for (const char* name :
         {"truncated.pls", "nopop1.pls", "badhex.pls", "missing.pls", "folder.pls"}) {
        SCOPED_TRACE(name);
        const auto asked = Restore(File(name));
        ASSERT_EQ(asked.size(), 3u);
        ExpectOnlyMessage(asked, "Error reading from file.", vbExclamation);
        EXPECT_EQ(ReadBytes(QString::fromStdString(SettingsStore::FilePath())), store);
        EXPECT_EQ(Rows(), QStringList({"kept@example.org", "b@example.org"}));
    }
    // The same file whole restores.
    ASSERT_EQ(Restore(File("good.pls")).size(), 2u);
    EXPECT_EQ(Rows(), QStringList({"a@example.org", "b@example.org"}));
}

TEST_F(BackupRestoreTest, RestoreDeclinedOrCancelledChangesNothing) {
    Store({{"a@example.org", "pop.a", "ua", "pa", ""}});
    Load();
    ASSERT_EQ(Backup(File("a.pls")).size(), 1u);
    SettingsStore::SaveValue("EmailAddress0", "changed@example.org");
    auto asked = Restore(File("a.pls"), vbNo);
    EXPECT_EQ(asked.size(), 1u) << "no file dialog after No";
    asked = Restore(QString());
    EXPECT_EQ(asked.size(), 2u);
    EXPECT_EQ(SettingsStore::GetValue("EmailAddress0"), "changed@example.org");
}

TEST_F(BackupRestoreTest, CommandLineRestoresOnlyALowerCasePlsNameQuotesRemoved) {
    Store({{"a@example.org", "pop.a", "ua", "pa", ""}});
    Load();
    ASSERT_TRUE(QDir(env_.path()).mkdir("My Backups"));
    const QString spaced = File("My Backups/all mail.pls");
    ASSERT_EQ(Backup(spaced).size(), 1u);
    ASSERT_TRUE(QFile::copy(spaced, File("backup.PLS")));
    SettingsStore::SaveValue("EmailAddress0", "changed@example.org");
    form_.reset();

    for (const QStringList& line :
         {QStringList{File("backup.PLS")}, QStringList{"/registrystart"}}) {
        ScopedModalAnswerer yes([](const ModalQuestion&) { return ModalAnswer::Button(vbYes); });
        Load(line);
        EXPECT_TRUE(ModalQuestionsAsked().empty()) << line.join(' ').toStdString();
        EXPECT_EQ(SettingsStore::GetValue("EmailAddress0"), "changed@example.org");
    }

    // Opened from the file manager or typed in a shell: one argument, quoted or not. The
    // question names the file on a line of its own.
    {
        ScopedModalAnswerer yes([](const ModalQuestion&) { return ModalAnswer::Button(vbYes); });
        Load({"  \"" + spaced + "\" "});
        ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
        EXPECT_EQ(ModalQuestionsAsked()[0].prompt, kProceed + QString("\n\n") + spaced);
        EXPECT_EQ(ModalQuestionsAsked()[0].buttons, vbYesNo + vbQuestion);
    }
    EXPECT_EQ(SettingsStore::GetValue("EmailAddress0"), "a@example.org");
    EXPECT_EQ(Rows(), QStringList({"a@example.org"}));
    EXPECT_TRUE(form_->isVisible());
}

TEST_F(BackupRestoreTest, SecondCopyAsksTheSingleInstanceQuestionBeforeRestoring) {
    Store({{"a@example.org", "pop.a", "ua", "pa", ""}});
    Load();
    ASSERT_EQ(Backup(File("a.pls")).size(), 1u);
    SettingsStore::SaveValue("EmailAddress0", "changed@example.org");
    form_.reset();

    SingleInstance first;
    ASSERT_FALSE(first.AnotherCopyRunning());
    {
        ScopedModalAnswerer no([](const ModalQuestion&) { return ModalAnswer::Button(vbNo); });
        PostlarkForm second({File("a.pls")});
        EXPECT_FALSE(second.Form_Load());
        ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
        EXPECT_TRUE(ModalQuestionsAsked()[0].prompt.startsWith("A copy of Postlark"));
    }
    EXPECT_EQ(SettingsStore::GetValue("EmailAddress0"), "changed@example.org");
    {
        ScopedModalAnswerer yes([](const ModalQuestion&) { return ModalAnswer::Button(vbYes); });
        Load({File("a.pls")});
        ASSERT_EQ(ModalQuestionsAsked().size(), 2u);
        EXPECT_TRUE(ModalQuestionsAsked()[0].prompt.startsWith("A copy of Postlark"));
        EXPECT_EQ(ModalQuestionsAsked()[1].prompt, kProceed + QString("\n\n") + File("a.pls"));
    }
    EXPECT_EQ(SettingsStore::GetValue("EmailAddress0"), "a@example.org");
}

} // namespace
} // namespace postlark
