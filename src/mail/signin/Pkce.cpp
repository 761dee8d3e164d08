// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/Pkce.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <vector>

namespace postlark {

QByteArray RandomUrlText(int bytes) {
    std::vector<quint32> words((bytes + 3) / 4);
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray raw(reinterpret_cast<const char*>(words.data()), bytes);
    return raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

Pkce Pkce::Make() {
    // 48 random bytes give 64 characters, inside the 43 to 128 the RFC asks for.
    Pkce pkce;
    pkce.verifier = RandomUrlText(48);
    pkce.challenge = ChallengeOf(pkce.verifier);
    return pkce;
}

QByteArray Pkce::ChallengeOf(const QByteArray& verifier) {
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

} // namespace postlark
