// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The OAuth2 parts of the account dialogs: the check box that signs an account in through its
// provider's web page, kept in step with the server field (the mechanism is written into the
// field, ";AUTH=XOAUTH2@"), and the sign-in itself, in the user's web browser, with a small
// dialog that waits for it and can cancel it.
#include "mail/signin/OAuthSignIn.h"

#include <QString>

#include <optional>

class QCheckBox;
class QGridLayout;
class QLineEdit;
class QWidget;

namespace postlark {

inline constexpr const char* OAuthBoxCaption = "Sign in through the provider's web page (OAuth2)";

// The server field with the OAuth2 mechanism put in after its scheme (XOAUTH2 unless one is
// named already) or taken out. A field without a scheme is returned as it is.
QString ServerFieldWithOAuth(const QString& field, bool oauth);
// Whether the field names an OAuth2 mechanism.
bool ServerFieldUsesOAuth(const QString& field);

// Adds the check box in a row of its own below the dialog's buttons, where it moves no other
// control, and keeps it, the server field and the password controls in step: ticked, the
// password controls are disabled.
QCheckBox* AddOAuthBox(QGridLayout& grid, QLineEdit& server,
                       std::initializer_list<QWidget*> passwordControls);

// Signs the account in through the browser and waits, with a Cancel, for the answer. A server
// field without a usable provider, a cancel or a refusal is shown to the user and gives
// nothing.
std::optional<SignInResult> SignInThroughBrowser(QWidget* parent, const QString& serverField,
                                                 const QString& user);

// The status bar's word after a sign-in: where its token is kept when not in the keyring.
QString SignInNote(const QString& address, bool keptInFile);

} // namespace postlark
