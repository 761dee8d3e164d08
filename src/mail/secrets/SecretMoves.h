// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turning "KeyringPasswords" on and off: the passwords move between the settings file and the
// desktop's keyring, all or nothing. The keyring is written first and the file second, in one
// atomic store write with the flag, and the keyring is emptied only after that, so at every
// moment (a kill included) each password is where the rule of AccountSecrets.h looks for it.
// Both wait for the keyring in the event dispatcher and return the reason of a failure (which
// leaves the flag and every password where they were), or empty text.
#include <QString>
#include <string>

namespace postlark {

// Writes every password of the file into the keyring, then stores the flag on and empties the
// moved passwords. An OAuth2 token that the file holds moves as well. A password that does not
// decipher stays in the file.
QString MoveSecretsToKeyring(const std::string& applicationKey);
// Reads the keyring item of every password account whose password it keeps, stores the flag
// off with those passwords enciphered, then removes the items. OAuth2 tokens stay in the
// keyring; an account whose item is missing keeps no password.
QString MoveSecretsToFile(const std::string& applicationKey);

} // namespace postlark
