// SPDX-License-Identifier: GPL-3.0-or-later
// The Add Account, Modify Account and Modify Password dialogs against a store in a
// temporary folder, with their questions answered through the modal seam.
#include "app/AccountListView.h"
#include "app/AddAcctForm.h"
#include "app/ModAcctForm.h"
#include "app/ModPassForm.h"
#include "platform/window/ModalAnswerer.h"
#include "platform/window/MsgBox.h"
#include "store/AccountRecord.h"
#include "store/ApplicationKey.h"
#include "store/PassCryptModule.h"
#include "store/SettingsStore.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace postlark {
namespace {

const char* const Absent = "<absent>";
const QString RequiredMessage =
    "Please make sure that all fields are filled in.  (The program field is not required).";

// The main window's list as the dialogs see it: its row count follows the store on ReDraw.
class FakeList : public AccountListView {
public:
    int AccountRowCount() const override { return rows; }
    void ReDraw() override {
        ++redraws;
        rows = static_cast<int>(SettingsStore::GetInteger(NumAcctsKey, 0));
    }
    int rows = 0;
    int redraws = 0;
};

// Runs `action` on the next modal widget other than `except` to appear, from the event loop
// of its exec(). Gives up after five seconds and closes whatever is modal.
void WhenModal(std::function<void(QWidget*)> action, QWidget* except = nullptr) {
    auto* timer = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != except) {
            timer->stop();
            timer->deleteLater();
            action(modal);
            // An answer the dialog ignored must not hang the run.
            QTimer::singleShot(5000, [guard = QPointer<QWidget>(modal)] {
                if (guard && guard->isVisible()) {
                    ADD_FAILURE() << "the dialog stayed open";
                    guard->close();
                }
            });
        } else if (started->elapsed() > 5000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "the expected dialog did not appear";
            if (modal)
                modal->close();
        }
    });
    timer->start(10);
}

QLineEdit* Field(QWidget* form, const char* name) {
    auto* field = form->findChild<QLineEdit*>(name);
    EXPECT_NE(field, nullptr) << name;
    return field;
}

QPushButton* Button(QWidget* form, const char* name) {
    auto* button = form->findChild<QPushButton*>(name);
    EXPECT_NE(button, nullptr) << name;
    return button;
}

std::string Stored(const std::string& key) {
    return SettingsStore::GetValue(key, Absent);
}

std::string Deciphered(const std::string& key) {
    std::string applicationKey = BuildApplicationKey();
    return PassCryptModule::DecryptText(Stored(key), applicationKey);
}

class AccountDialogsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetModalAnswerer([this](const ModalQuestion& question) {
            if (question.kind == ModalQuestion::Kind::MessageBox)
                return ModalAnswer::Button(vbOK);
            return fileAnswer;
        });
    }
    void TearDown() override { SetModalAnswerer({}); }

    // Stores `count` accounts the way the Add dialog does.
    void StoreAccounts(int count) {
        std::string applicationKey = key;
        for (int i = 0; i < count; ++i) {
            const std::string n = std::to_string(i);
            AddAccount(i, {"user" + n + "@example.org", "pop" + n + ".example.org", "user" + n,
                           PassCryptModule::EncryptText("secret" + n, applicationKey),
                           "/usr/bin/mailer" + n});
        }
        list.rows = count;
    }

    static void Fill(QWidget* form, const char* email, const char* pop, const char* user,
                     const char* password, const char* program) {
        Field(form, "EmailAddressText")->setText(email);
        Field(form, "POPText")->setText(pop);
        Field(form, "UserNameText")->setText(user);
        Field(form, "PassText")->setText(password);
        Field(form, "ProgramText")->setText(program);
    }

    test::TestEnvironment environment;
    FakeList list;
    std::string key = BuildApplicationKey();
    ModalAnswer fileAnswer = ModalAnswer::Cancel();
};

TEST_F(AccountDialogsTest, AddWithAnyRequiredFieldEmptyShowsMessageAndStoresNothing) {
    const char* required[] = {"EmailAddressText", "POPText", "UserNameText", "PassText"};
    for (const char* empty : required) {
        SetModalAnswerer([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
        AddAcctForm form(nullptr, list, key);
        form.show();
        Fill(&form, "a@example.org", "pop.example.org", "a", "pw", "/usr/bin/mailer");
        Field(&form, empty)->clear();
        Button(&form, "AddButton")->click();

        const auto& asked = ModalQuestionsAsked();
        ASSERT_EQ(asked.size(), 1u) << empty;
        EXPECT_EQ(asked[0].prompt, RequiredMessage);
        EXPECT_EQ(asked[0].buttons, vbOKOnly); // no icon
        EXPECT_EQ(asked[0].title, "Postlark");
        EXPECT_TRUE(form.isVisible()) << "the dialog stays open";
        EXPECT_EQ(Field(&form, "EmailAddressText")->text().isEmpty(),
                  std::string(empty) == "EmailAddressText")
            << "the fields keep their contents";
    }
    EXPECT_EQ(Stored("NumAccts"), Absent);
    for (const auto field : AccountFields)
        EXPECT_EQ(Stored(AccountKey(field, 0)), Absent) << field;
    EXPECT_EQ(list.redraws, 0);
}

TEST_F(AccountDialogsTest, TextThatCannotBeStoredIsRefusedWithAMessage) {
    SetModalAnswerer([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    AddAcctForm form(nullptr, list, key);
    form.show();
    Fill(&form, "a@example.org", "pop.example.org", "a", "pw", "");
    Field(&form, "PassText")->setText(QString::fromUtf8("\xE5\xAF\x86\xE7\xA0\x81"));
    Button(&form, "AddButton")->click();
    ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
    EXPECT_EQ(ModalQuestionsAsked()[0].buttons, vbExclamation);
    EXPECT_EQ(Stored("NumAccts"), Absent);
    EXPECT_TRUE(form.isVisible());
}

// The message names the field that holds them, in each of the three dialogs.
TEST_F(AccountDialogsTest, TheMessageAboutTextThatCannotBeStoredNamesTheField) {
    const QString wide = QString::fromUtf8("\xE5\xAF\x86");
    const auto message = [](const QString& field) {
        return "The field \"" + field +
               "\" holds characters that cannot be stored. Please use only Western European "
               "letters, digits and signs.";
    };
    const std::pair<const char*, QString> fields[] = {
        {"EmailAddressText", "Email Address"},
        {"POPText", "POP3 Server Name"},
        {"UserNameText", "User Name"},
        {"PassText", "Password"},
        {"ProgramText", "Location of program or URL associated with account"}};
    for (const auto& [name, label] : fields) {
        SCOPED_TRACE(name);
        SetModalAnswerer([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
        AddAcctForm add(nullptr, list, key);
        Fill(&add, "a@example.org", "pop.example.org", "a", "pw", "");
        Field(&add, name)->setText(Field(&add, name)->text() + wide);
        Button(&add, "AddButton")->click();
        ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
        EXPECT_EQ(ModalQuestionsAsked()[0].prompt, message(label));
        if (QString(name) == "PassText")
            continue;

        StoreAccounts(1);
        SetModalAnswerer([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
        ModAcctForm modify(nullptr, list, key);
        modify.LoadAccount(0);
        Field(&modify, name)->setText(Field(&modify, name)->text() + wide);
        Button(&modify, "ModButton")->click();
        ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
        EXPECT_EQ(ModalQuestionsAsked()[0].prompt, message(label));
    }
    SetModalAnswerer([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    ModPassForm password(nullptr, key);
    Field(&password, "PassText")->setText(wide);
    Button(&password, "cmdOK")->click();
    ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
    EXPECT_EQ(ModalQuestionsAsked()[0].prompt, message("New Password"));
}

// IMAP fields are accepted in the dialogs; a malformed one is refused with the reason.
TEST_F(AccountDialogsTest, ImapServerFieldsAreAcceptedAndMalformedOnesRefused) {
    SetModalAnswerer([](const ModalQuestion&) { return ModalAnswer::Button(vbOK); });
    {
        AddAcctForm form(nullptr, list, key);
        form.show();
        Fill(&form, "a@example.org", "imap://", "a", "pw", "");
        Button(&form, "AddButton")->click();
        ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
        EXPECT_EQ(ModalQuestionsAsked()[0].prompt,
                  "The server field cannot be used: The server name is empty.");
        EXPECT_EQ(ModalQuestionsAsked()[0].buttons, vbExclamation);
        EXPECT_EQ(Stored("NumAccts"), Absent);
        EXPECT_TRUE(form.isVisible());

        Field(&form, "POPText")->setText("imaps://[2001:db8::1]:1993");
        Button(&form, "AddButton")->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_EQ(Stored("POP0"), "imaps://[2001:db8::1]:1993");
    }
    list.rows = 1;
    ModAcctForm form(nullptr, list, key);
    form.LoadAccount(0);
    form.show();
    const std::size_t asked = ModalQuestionsAsked().size();
    Field(&form, "POPText")->setText("imap://mail.example.org:99999");
    Button(&form, "ModButton")->click();
    ASSERT_EQ(ModalQuestionsAsked().size(), asked + 1);
    EXPECT_EQ(ModalQuestionsAsked().back().prompt,
              "The server field cannot be used: The port must be a number from 1 to 65535.");
    EXPECT_EQ(Stored("POP0"), "imaps://[2001:db8::1]:1993");
}

TEST_F(AccountDialogsTest, AddAppendsAtRowCountWithEmptyProgramStoredAndPasswordEnciphered) {
    StoreAccounts(3);
    AddAcctForm form(nullptr, list, key);
    Fill(&form, "new@example.org", "pop3s://mail.example.org", "New User ", "p4ss word", "");
    Button(&form, "AddButton")->click();

    EXPECT_TRUE(ModalQuestionsAsked().empty());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(Stored("NumAccts"), "4");
    EXPECT_EQ(Stored("EmailAddress3"), "new@example.org");
    EXPECT_EQ(Stored("POP3"), "pop3s://mail.example.org");
    EXPECT_EQ(Stored("UserName3"), "New User "); // stored exactly as typed
    EXPECT_EQ(Stored("Program3"), "");           // present, and empty
    EXPECT_NE(Stored("Password3"), "p4ss word");
    EXPECT_EQ(Deciphered("Password3"), "p4ss word");
    EXPECT_EQ(Stored("EmailAddress2"), "user2@example.org");
    EXPECT_EQ(list.redraws, 1);
    EXPECT_EQ(list.rows, 4);
}

TEST_F(AccountDialogsTest, StoreWriteFailureIsReportedAndTheDialogStaysOpen) {
    // A file where the store's folder should be: every write fails.
    QFile blocker(environment.configHome() + "/Postlark");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    AddAcctForm form(nullptr, list, key);
    form.show();
    Fill(&form, "a@example.org", "pop.example.org", "a", "pw", "");
    Button(&form, "AddButton")->click();

    const auto& asked = ModalQuestionsAsked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].buttons, vbExclamation);
    EXPECT_EQ(asked[0].title, "Postlark");
    EXPECT_FALSE(asked[0].prompt.contains("pw"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(list.redraws, 0);
    EXPECT_EQ(Field(&form, "EmailAddressText")->text(), "a@example.org");
}

TEST_F(AccountDialogsTest, DefaultButtonsStarredPasswordsAndTabOrder) {
    AddAcctForm add(nullptr, list, key);
    EXPECT_TRUE(Button(&add, "AddButton")->isDefault());
    EXPECT_EQ(Field(&add, "ProgramText")->toolTip(),
              "Full path to program or URL to a website - don't forget the http:// if using an "
              "URL.");
    Field(&add, "PassText")->setText("abc");
    EXPECT_EQ(Field(&add, "PassText")->displayText(), "***");

    // Tab order: the fields, then Browse, Add, Cancel; the OAuth2 box comes last.
    QStringList order;
    QWidget* widget = Field(&add, "EmailAddressText");
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != Field(&add, "EmailAddressText"));
    EXPECT_EQ(order,
              QStringList({"EmailAddressText", "POPText", "UserNameText", "PassText", "ProgramText",
                           "BrowseButton", "AddButton", "CancelButton", "OAuthCheck"}));

    ModAcctForm modify(nullptr, list, key);
    EXPECT_TRUE(Button(&modify, "ModButton")->isDefault());
    EXPECT_EQ(modify.findChild<QLineEdit*>("PassText"), nullptr);

    ModPassForm password(nullptr, key);
    EXPECT_TRUE(Button(&password, "cmdOK")->isDefault());
    Field(&password, "PassText")->setText("xy");
    EXPECT_EQ(Field(&password, "PassText")->displayText(), "**");
}

TEST_F(AccountDialogsTest, ModifyShowsBadReadForMissingKeysAndStoresFourFields) {
    StoreAccounts(2);
    SettingsStore::DeleteValue("POP1");
    SettingsStore::DeleteValue("Program1");
    const std::string password = Stored("Password1");

    ModAcctForm form(nullptr, list, key);
    form.LoadAccount(1);
    form.show();
    EXPECT_EQ(Field(&form, "EmailAddressText")->text(), "user1@example.org");
    EXPECT_EQ(Field(&form, "POPText")->text(), "Bad Read");
    EXPECT_EQ(Field(&form, "ProgramText")->text(), "");

    // A required field emptied: the message, nothing stored.
    Field(&form, "UserNameText")->clear();
    Button(&form, "ModButton")->click();
    ASSERT_EQ(ModalQuestionsAsked().size(), 1u);
    EXPECT_EQ(ModalQuestionsAsked()[0].prompt, RequiredMessage);
    EXPECT_EQ(Stored("UserName1"), "user1");
    EXPECT_TRUE(form.isVisible());

    // "Bad Read" is no server a check could reach: refused with the reason, nothing stored.
    Field(&form, "UserNameText")->setText("renamed");
    Field(&form, "ProgramText")->setText("https://mail.example.org/");
    Button(&form, "ModButton")->click();
    ASSERT_EQ(ModalQuestionsAsked().size(), 2u);
    EXPECT_EQ(ModalQuestionsAsked()[1].prompt,
              "The server field cannot be used: The server name contains spaces or control "
              "characters.");
    EXPECT_EQ(Stored("UserName1"), "user1");
    EXPECT_TRUE(form.isVisible());

    Field(&form, "POPText")->setText("pop1.example.org");
    Button(&form, "ModButton")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(Stored("UserName1"), "renamed");
    EXPECT_EQ(Stored("POP1"), "pop1.example.org");
    EXPECT_EQ(Stored("Program1"), "https://mail.example.org/");
    EXPECT_EQ(Stored("Password1"), password);
    EXPECT_EQ(Stored("NumAccts"), "2");
    EXPECT_EQ(Stored("UserName0"), "user0");
    EXPECT_EQ(list.redraws, 1);
}

TEST_F(AccountDialogsTest, PasswordChangeThenCloseBoxKeepsNewPasswordAndOldFields) {
    StoreAccounts(3);
    ModAcctForm form(nullptr, list, key);
    bool cancelDisabled = false;
    WhenModal([&](QWidget* modify) {
        Field(modify, "UserNameText")->setText("edited but not stored");
        WhenModal(
            [](QWidget* password) {
                EXPECT_EQ(password->objectName(), "ModPassForm");
                Field(password, "PassText")->setText("n3w pass");
                Button(password, "cmdOK")->click();
            },
            modify);
        Button(modify, "CommandChange")->click();
        cancelDisabled = !Button(modify, "CancelButton")->isEnabled();
        modify->close(); // the window's close box
    });
    EXPECT_EQ(form.ModifyShow(1), QDialog::Rejected);

    EXPECT_TRUE(cancelDisabled);
    EXPECT_EQ(Deciphered("Password1"), "n3w pass");
    EXPECT_EQ(Stored("UserName1"), "user1");
    EXPECT_EQ(Stored("EmailAddress1"), "user1@example.org");
    EXPECT_EQ(Deciphered("Password0"), "secret0");
    EXPECT_EQ(Deciphered("Password2"), "secret2");
    EXPECT_EQ(list.redraws, 0);
}

TEST_F(AccountDialogsTest, PasswordChangeThenModifyStoresBothAndEscapeNoLongerCancels) {
    StoreAccounts(2);
    ModAcctForm form(nullptr, list, key);
    bool openAfterEscape = false;
    WhenModal([&](QWidget* modify) {
        WhenModal(
            [](QWidget* password) {
                Field(password, "PassText")->setText("changed");
                Button(password, "cmdOK")->click();
            },
            modify);
        Button(modify, "CommandChange")->click();
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(modify, &escape);
        openAfterEscape = modify->isVisible();
        Field(modify, "EmailAddressText")->setText("moved@example.org");
        Button(modify, "ModButton")->click();
    });
    EXPECT_EQ(form.ModifyShow(0), QDialog::Accepted);

    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(Deciphered("Password0"), "changed");
    EXPECT_EQ(Stored("EmailAddress0"), "moved@example.org");
    EXPECT_EQ(Stored("UserName0"), "user0");
    EXPECT_EQ(list.redraws, 1);
}

TEST_F(AccountDialogsTest, PasswordDialogCancelledLeavesPasswordAndCancelButton) {
    StoreAccounts(1);
    const std::string password = Stored("Password0");
    ModAcctForm form(nullptr, list, key);
    form.LoadAccount(0);
    WhenModal([](QWidget* passwordForm) {
        Field(passwordForm, "PassText")->setText("not this");
        Button(passwordForm, "cmdCancel")->click();
    });
    Button(&form, "CommandChange")->click();
    EXPECT_TRUE(Button(&form, "CancelButton")->isEnabled());
    EXPECT_EQ(Stored("Password0"), password);
}

TEST_F(AccountDialogsTest, BrowsePicksAFileAndCancelEmptiesTheField) {
    AddAcctForm add(nullptr, list, key);
    Field(&add, "ProgramText")->setText("https://mail.example.org/");
    fileAnswer = ModalAnswer::File("/usr/bin/thunderbird");
    Button(&add, "BrowseButton")->click();
    EXPECT_EQ(Field(&add, "ProgramText")->text(), "/usr/bin/thunderbird");

    fileAnswer = ModalAnswer::Cancel();
    Button(&add, "BrowseButton")->click();
    EXPECT_EQ(Field(&add, "ProgramText")->text(), "");

    const auto& asked = ModalQuestionsAsked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].kind, ModalQuestion::Kind::OpenFile);
    // Programs here have no ".exe": the first filter shows every file; the other stays.
    EXPECT_TRUE(asked[0].filter.startsWith("All files (*)|*|")) << asked[0].filter.toStdString();
    EXPECT_TRUE(asked[0].filter.contains("Applications (*.exe)|*.exe"));
    EXPECT_EQ(asked[0].dialogTitle, "Please choose a program to be associated with this account");
    EXPECT_TRUE(asked[0].cancelError);

    StoreAccounts(1);
    ModAcctForm modify(nullptr, list, key);
    modify.LoadAccount(0);
    Button(&modify, "BrowseButton")->click();
    EXPECT_EQ(Field(&modify, "ProgramText")->text(), "");
    EXPECT_EQ(Stored("Program0"), "/usr/bin/mailer0") << "nothing stored before Modify";
}

// What the check could not connect to, or a program no backup file could hold, is refused with
// the reason when OK is pressed; nothing is stored.
TEST_F(AccountDialogsTest, UnusableServerOrProgramIsRefusedWithTheReason) {
    const struct {
        const char* server;
        const char* program;
        const char* message;
    } cases[] = {
        {"127.0.0.1:99999", "",
         "The server field cannot be used: The port must be a number from 1 "
         "to 65535."},
        {"ftp://host", "", "The server field cannot be used: Unknown scheme"},
        {"   ", "", "The server field cannot be used: The server name is empty."},
        {"pop.example.org", "/usr/bin/a\nb", "The program field must be a single line."},
    };
    StoreAccounts(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.server);
        const std::size_t before = ModalQuestionsAsked().size();
        AddAcctForm add(nullptr, list, key);
        Fill(&add, "new@example.org", c.server, "user", "pw", c.program);
        Button(&add, "AddButton")->click();

        ModAcctForm modify(nullptr, list, key);
        modify.LoadAccount(0);
        Field(&modify, "POPText")->setText(c.server);
        Field(&modify, "ProgramText")->setText(QString::fromUtf8(c.program));
        Button(&modify, "ModButton")->click();

        ASSERT_EQ(ModalQuestionsAsked().size(), before + 2);
        for (std::size_t i = before; i < before + 2; ++i) {
            const ModalQuestion& asked = ModalQuestionsAsked()[i];
            EXPECT_TRUE(asked.prompt.startsWith(c.message)) << asked.prompt.toStdString();
            EXPECT_EQ(asked.buttons & 0x70, vbExclamation);
        }
        EXPECT_EQ(Stored("NumAccts"), "1");
        EXPECT_EQ(Stored("POP0"), "pop0.example.org");
        EXPECT_EQ(Stored("Program0"), "/usr/bin/mailer0");
        EXPECT_EQ(list.redraws, 0);
    }
}

TEST_F(AccountDialogsTest, ClearThenCancelLeavesStoredProgram) {
    StoreAccounts(1);
    ModAcctForm form(nullptr, list, key);
    form.LoadAccount(0);
    Button(&form, "ClearButton")->click();
    EXPECT_EQ(Field(&form, "ProgramText")->text(), "");
    Button(&form, "CancelButton")->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(Stored("Program0"), "/usr/bin/mailer0");
    EXPECT_EQ(list.redraws, 0);
}

} // namespace
} // namespace postlark
