// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Pieces shared by the Add Account and Modify Account dialogs.
#include <QString>
#include <functional>
#include <initializer_list>

class QGridLayout;
class QLineEdit;

namespace postlark {

class CommonDialog;

inline constexpr const char* RequiredFieldsMessage =
    "Please make sure that all fields are filled in.  (The program field is not required).";
inline constexpr const char* ProgramToolTip =
    "Full path to program or URL to a website - don't forget the http:// if using an URL.";
inline constexpr const char* ProgramLabel = "Location of program or URL associated with account:";
inline constexpr const char* ServerToolTip =
    "host or host:port (POP3), pop3s://host (POP3 over TLS), imap://host (IMAP) or "
    "imaps://host (IMAP over TLS)";

// The Browse dialog's filter: every file first, since programs here have no ".exe" name,
// then the applications entry.
inline constexpr const char* ProgramFilter = "All files (*)|*|Applications (*.exe)|*.exe";
inline constexpr const char* ProgramBrowseTitle =
    "Please choose a program to be associated with this account";

// Adds a label and a text field named objectName at the given row; the field spans
// `columns` columns. The field's accessible name is the label without its colon.
QLineEdit* AddLabelledField(QGridLayout& grid, int row, const QString& label,
                            const QString& objectName, int columns = 1);

// Shows every character typed into the field as "*".
void ShowAsPassword(QLineEdit& field);

// Tells the user that a required field is empty.
void ShowRequiredFieldsMessage();

// Tells the user when a field holds characters that cannot be stored (stored text is
// single-byte), naming the field; true when every field can be stored as typed.
bool FieldsStorableOrReport(std::initializer_list<const QLineEdit*> fields);

// Tells the user when the server field cannot be connected to (with the reason the check
// would give) or the program field holds a line break; true when both can be used.
bool ServerAndProgramUsableOrReport(const QLineEdit& server, const QLineEdit& program);

// Lets the user choose a program file; its full path goes into the field. A cancel empties
// the field.
void BrowseForProgram(CommonDialog& dialog, QLineEdit& programText);

// Runs a store write. A failure is shown to the user and reported as false; the store is
// then as it was, since each account write lands whole or not at all.
bool StoreOrReport(const std::function<void()>& write);

} // namespace postlark
