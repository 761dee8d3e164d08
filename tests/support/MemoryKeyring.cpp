// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/MemoryKeyring.h"

#include <QTimer>

namespace postlark::test {

namespace {

KeyringResult Result(bool ok, const char* reason = "") {
    return {ok, !ok && reason == NoKeyringSecretText, {}, ok ? QString() : reason};
}

} // namespace

void MemoryKeyring::Answer(Done done, KeyringResult result) {
    const char* moods[] = {"", KeyringLockedText, NoKeyringText, KeyringRefusedText};
    if (mood != Mood::Open)
        result = Result(false, moods[static_cast<int>(mood)]);
    QTimer::singleShot(0, [done = std::move(done), result] { done(result); });
}

void MemoryKeyring::Read(const QString& service, const QString& key, Done done) {
    const auto item = items.find({service, key});
    KeyringResult result = Result(item != items.end(), NoKeyringSecretText);
    if (result.ok)
        result.secret = item->second;
    Answer(std::move(done), result);
}

void MemoryKeyring::Write(const QString& service, const QString& key, const QString& secret,
                          Done done) {
    const bool ok = ++writes != failingWrite;
    if (ok && mood == Mood::Open)
        items[{service, key}] = secret;
    Answer(std::move(done), Result(ok, "The keyring failed: no space left"));
}

void MemoryKeyring::Delete(const QString& service, const QString& key, Done done) {
    if (mood == Mood::Open)
        items.erase({service, key});
    Answer(std::move(done), Result(true));
}

} // namespace postlark::test
