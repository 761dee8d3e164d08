// SPDX-License-Identifier: GPL-3.0-or-later
// Helper process for the kill test: moves the stored passwords (found through the inherited
// XDG_CONFIG_HOME) into the desktop's keyring and back again until it is killed, on the event
// dispatcher the program chooses. Prints "r" once the first round has completed; exits with 1
// when a move fails.
#include "mail/secrets/SecretMoves.h"
#include "platform/system/EventDispatcherChoice.h"
#include "store/ApplicationKey.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    postlark::ChooseEventDispatcher();
    QCoreApplication app(argc, argv);
    postlark::EndEventDispatcherChoice();
    const std::string key = postlark::BuildApplicationKey();
    for (bool first = true;; first = false) {
        if (!postlark::MoveSecretsToKeyring(key).isEmpty() ||
            !postlark::MoveSecretsToFile(key).isEmpty())
            return 1;
        if (first) {
            std::fputs("r", stdout);
            std::fflush(stdout);
        }
    }
}
