// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's keyring as the program uses it: one secret per item, named by a service and a
// key. Every call answers once, later, through `done`; nothing waits.
#include <QString>
#include <functional>

namespace postlark {

// The reasons a keyring gives, short enough for a row's tool tip. They never hold a secret.
inline constexpr const char* KeyringLockedText = "The desktop's keyring is locked";
inline constexpr const char* NoKeyringText = "No desktop keyring (Secret Service) is running";
inline constexpr const char* KeyringRefusedText = "The keyring refused access";
inline constexpr const char* NoKeyringSecretText = "The keyring holds no password for this account";

struct KeyringResult {
    bool ok = false;
    bool notFound = false; // Read: no such item (error is then NoKeyringSecretText)
    QString secret;        // Read: the item's secret in plain text
    QString error;         // why it failed, when !ok
};

class Keyring {
public:
    using Done = std::function<void(KeyringResult)>;

    virtual ~Keyring() = default;
    virtual void Read(const QString& service, const QString& key, Done done) = 0;
    // Creates the item or replaces its secret.
    virtual void Write(const QString& service, const QString& key, const QString& secret,
                       Done done) = 0;
    // Removes the item; removing an absent item succeeds.
    virtual void Delete(const QString& service, const QString& key, Done done) = 0;
};

// The keyring the program uses: the desktop's, unless a test put another in its place.
Keyring& SystemKeyring();
// Puts `keyring` in the desktop's place (nullptr gives the desktop's back).
void UseKeyringForTests(Keyring* keyring);

} // namespace postlark
