// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's keyring through QtKeychain (the Secret Service on Linux), built as a library of
// its own that the program loads the first time it reaches the keyring (ModuleLibrary.h): a
// user who keeps passwords in the settings file never maps QtKeychain and the libraries behind
// it. An item is named as QtKeychain names it: the service is its label and its "server"
// attribute, the key its "user" attribute. QtKeychain's plain-file fallback is never used: a
// secret is in the keyring or the request fails with the reason.
#include "mail/secrets/Keyring.h"

namespace postlark {

class KeychainKeyring : public Keyring {
public:
    void Read(const QString& service, const QString& key, Done done) override;
    void Write(const QString& service, const QString& key, const QString& secret,
               Done done) override;
    void Delete(const QString& service, const QString& key, Done done) override;
};

} // namespace postlark

// The one symbol the library exports: a new keyring, owned by the caller.
extern "C" postlark::Keyring* postlark_new_keyring();
