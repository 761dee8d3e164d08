// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Proof Key for Code Exchange (RFC 7636, method S256): the sign-in sends the challenge, the
// code exchange the verifier, so a code caught on its way back through the browser is of no
// use to whoever caught it.
#include <QByteArray>

namespace postlark {

struct Pkce {
    QByteArray verifier;  // 64 characters of the unreserved set, from the system's random source
    QByteArray challenge; // base64url(SHA-256(verifier)) without padding

    static Pkce Make();
    static QByteArray ChallengeOf(const QByteArray& verifier);
};

// A random text of base64url characters from `bytes` random bytes: states and verifiers.
QByteArray RandomUrlText(int bytes);

} // namespace postlark
