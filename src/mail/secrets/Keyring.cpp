// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/secrets/Keyring.h"

#include "mail/secrets/KeychainKeyring.h"
#include "platform/system/ModuleLibrary.h"

namespace postlark {

namespace {

Keyring* standIn = nullptr;

// The keyring when its library cannot be loaded: every request fails with the reason.
class MissingKeyring : public Keyring {
public:
    explicit MissingKeyring(const QString& why)
        : error_(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(NoKeyringText), why)) {}
    void Read(const QString&, const QString&, Done done) override {
        done({false, false, {}, error_});
    }
    void Write(const QString&, const QString&, const QString&, Done done) override {
        done({false, false, {}, error_});
    }
    void Delete(const QString&, const QString&, Done done) override {
        done({false, false, {}, error_});
    }

private:
    QString error_;
};

// Loaded at the first request; kept for the program's life.
Keyring* LoadDesktopKeyring() {
    QString why;
    using Entry = Keyring* (*)();
    if (auto entry = reinterpret_cast<Entry>(LoadModuleEntry(
            POSTLARK_KEYRING_NAME, POSTLARK_KEYRING_BUILD_PATH, "postlark_new_keyring", &why)))
        return entry();
    return new MissingKeyring(why);
}

} // namespace

Keyring& SystemKeyring() {
    if (standIn)
        return *standIn;
    static Keyring* desktop = LoadDesktopKeyring();
    return *desktop;
}

void UseKeyringForTests(Keyring* keyring) {
    standIn = keyring;
}

} // namespace postlark
