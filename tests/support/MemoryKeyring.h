// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A keyring in memory that takes the desktop's place while it exists. It answers from the
// event loop, as the desktop's does, and fails as told.
#include "mail/secrets/Keyring.h"

#include <map>
#include <utility>

namespace postlark::test {

class MemoryKeyring : public Keyring {
public:
    enum class Mood { Open, Locked, NoService, Refusing }; // all but Open fail every request

    MemoryKeyring() { UseKeyringForTests(this); }
    ~MemoryKeyring() override { UseKeyringForTests(nullptr); }
    MemoryKeyring(const MemoryKeyring&) = delete;
    MemoryKeyring& operator=(const MemoryKeyring&) = delete;

    void Read(const QString& service, const QString& key, Done done) override;
    void Write(const QString& service, const QString& key, const QString& secret,
               Done done) override;
    void Delete(const QString& service, const QString& key, Done done) override;

    Mood mood = Mood::Open;
    int failingWrite = 0; // the write of this number (counting from 1) fails; 0: none
    int writes = 0;       // writes asked for so far
    std::map<std::pair<QString, QString>, QString> items; // (service, key) -> secret

private:
    void Answer(Done done, KeyringResult result);
};

} // namespace postlark::test
