// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the account dialogs need from the main window's account list: how many rows it has
// (the number the next new account gets) and a refill from the store after a change.
#include <QString>

namespace postlark {
struct SignInResult;
}

namespace postlark {

class AccountListView {
public:
    virtual ~AccountListView() = default;

    // Number of rows in the account list.
    virtual int AccountRowCount() const = 0;
    // Empties the list and fills it again from the store.
    virtual void ReDraw() = 0;
    // Called right before an account is changed in the store: whether the list still shows
    // what is stored (another running copy may have changed the accounts). When it does not,
    // the list is refilled and the user told, and the change must not be made.
    virtual bool ConfirmListCurrent(int account) {
        (void)account;
        return true;
    }
    // Called right before the stored accounts change: a check run in progress ends first, so
    // that no result lands on a row that has come to show another account.
    virtual void EndCheckRunForListChange() {}
    // Whether the account's last check or push said its OAuth2 sign-in is needed again.
    virtual bool SignInNeeded(int account) const {
        (void)account;
        return false;
    }
    // An account's OAuth2 sign-in has just been done and stored: its access token is fresh,
    // its row's "Sign-in needed" is over; `keptInFile` tells that the keyring could not keep it.
    virtual void SignedIn(int account, const SignInResult& result, bool keptInFile) {
        (void)account;
        (void)result;
        (void)keptInFile;
    }
};

} // namespace postlark
