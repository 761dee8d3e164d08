// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AccountSignIn.h"

#include "mail/signin/OAuthProvider.h"
#include "platform/net/ServerAddress.h"
#include "platform/shell/ShellExecute.h"
#include "platform/window/MsgBox.h"

#include <QCheckBox>
#include <QDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace postlark {

namespace {

const QRegularExpression& MechanismPart() {
    static const QRegularExpression part(QStringLiteral("^([A-Za-z0-9+]+://);AUTH=[^@]*@"),
                                         QRegularExpression::CaseInsensitiveOption);
    return part;
}

} // namespace

bool ServerFieldUsesOAuth(const QString& field) {
    return ParseServerField(field).mechanism != SignInMechanism::Password;
}

QString ServerFieldWithOAuth(const QString& field, bool oauth) {
    const QString text = field.trimmed();
    const bool named = MechanismPart().match(text).hasMatch();
    if (!oauth) {
        QString plain = text;
        return named ? plain.replace(MechanismPart(), QStringLiteral("\\1")) : field;
    }
    const qsizetype scheme = text.indexOf(QStringLiteral("://"));
    if (named || scheme < 0)
        return field;
    return text.left(scheme + 3) + QStringLiteral(";AUTH=XOAUTH2@") + text.mid(scheme + 3);
}

QCheckBox* AddOAuthBox(QGridLayout& grid, QLineEdit& server,
                       std::initializer_list<QWidget*> passwordControls) {
    auto* box = new QCheckBox(QString::fromLatin1(OAuthBoxCaption));
    box->setObjectName(QStringLiteral("OAuthCheck"));
    grid.addWidget(box, grid.rowCount(), 0, 1, grid.columnCount());
    const QList<QWidget*> controls(passwordControls);
    const auto follow = [box, controls] {
        for (QWidget* control : controls)
            control->setEnabled(!box->isChecked());
    };
    // The field names the mechanism, the box shows it; each change of one moves the other.
    QObject::connect(&server, &QLineEdit::textChanged, box, [box, follow](const QString& text) {
        const bool uses = ServerFieldUsesOAuth(text);
        if (uses != box->isChecked()) {
            const QSignalBlocker quiet(box);
            box->setChecked(uses);
            follow();
        }
    });
    QObject::connect(box, &QCheckBox::toggled, &server, [&server, follow](bool on) {
        const QString changed = ServerFieldWithOAuth(server.text(), on);
        if (changed != server.text()) {
            const QSignalBlocker quiet(&server);
            server.setText(changed);
        }
        follow();
    });
    return box;
}

std::optional<SignInResult> SignInThroughBrowser(QWidget* parent, const QString& serverField,
                                                 const QString& user) {
    const ServerAddress address = ParseServerField(serverField);
    if (address.mechanism == SignInMechanism::Password) {
        MsgBox("To sign in through the provider's web page, write the server as "
               "imaps://host or pop3s://host.",
               vbExclamation, "Postlark");
        return std::nullopt;
    }
    const OAuthProvider provider = OAuthProvider::ForServer(address);
    if (!provider.Usable()) {
        MsgBox(provider.missing, vbExclamation, "Postlark");
        return std::nullopt;
    }
    // The desktop's web browser, as the program opens any web address.
    OAuthSignIn signIn(provider, user, [](const QUrl& url) {
        constexpr std::intptr_t kLastError = 32; // larger values mean success
        return win::ShellExecuteA(0, QStringLiteral("open"), url.toString(QUrl::FullyEncoded),
                                  QString(), QString(), 1) > kLastError;
    });

    QDialog wait(parent);
    wait.setObjectName(QStringLiteral("SignInWait"));
    wait.setWindowTitle(QStringLiteral("Postlark"));
    wait.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* layout = new QVBoxLayout(&wait);
    auto* text = new QLabel(QStringLiteral("Sign in to %1 in your web browser.\n"
                                           "Postlark waits for the answer.")
                                .arg(provider.name));
    layout->addWidget(text);
    auto* cancel = new QPushButton(QStringLiteral("&Cancel"));
    cancel->setObjectName(QStringLiteral("CancelButton"));
    layout->addWidget(cancel, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    QObject::connect(cancel, &QPushButton::clicked, &signIn, &OAuthSignIn::Cancel);
    QObject::connect(&signIn, &OAuthSignIn::finished, &wait, &QDialog::accept);
    signIn.Start();
    if (!signIn.Finished())
        wait.exec();
    SignInResult result = signIn.Wait();
    if (!result.ok) {
        MsgBox(result.error, vbExclamation, "Postlark");
        return std::nullopt;
    }
    return result;
}

QString SignInNote(const QString& address, bool keptInFile) {
    return keptInFile ? QStringLiteral("No desktop keyring: the sign-in of %1 is kept enciphered "
                                       "in the settings file")
                            .arg(address)
                      : QStringLiteral("Signed in to %1.").arg(address);
}

} // namespace postlark
