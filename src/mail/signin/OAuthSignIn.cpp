// SPDX-License-Identifier: GPL-3.0-or-later
#include "mail/signin/OAuthSignIn.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

namespace postlark {

OAuthSignIn::OAuthSignIn(OAuthProvider provider, QString loginHint, BrowserOpener openBrowser,
                         QObject* parent)
    : QObject(parent), provider_(std::move(provider)), loginHint_(std::move(loginHint)),
      openBrowser_(std::move(openBrowser)) {}

OAuthSignIn::~OAuthSignIn() = default;

void OAuthSignIn::Start() {
    if (started_)
        return;
    started_ = true;
    if (!provider_.Usable())
        return Fail(provider_.missing);
    QString why;
    const SignInModuleApi* module = SignInModule(&why);
    if (!module)
        return Fail(why);
    flow_.reset(module->newFlow({provider_, loginHint_, Pkce::Make(),
                                 QString::fromLatin1(RandomUrlText(24)), timeLimit_, openBrowser_,
                                 [this](SignInResult result) { Finish(std::move(result)); }}));
    flow_->Start();
}

void OAuthSignIn::Cancel() {
    Fail(QStringLiteral("The sign-in was cancelled."));
}

SignInResult OAuthSignIn::Wait() {
    Start(); // unless it was
    const QPointer<OAuthSignIn> guard(this);
    while (guard && !done_)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!guard)
        return {false, {}, {}, {}, QStringLiteral("The sign-in was ended.")};
    return result_;
}

void OAuthSignIn::Fail(const QString& error) {
    Finish({false, {}, {}, {}, error});
}

void OAuthSignIn::Finish(SignInResult result) {
    if (done_)
        return;
    done_ = true;
    if (flow_)
        flow_->Stop();
    result_ = std::move(result);
    // The token service's answer comes as a posted event; a wait that handled it would
    // otherwise sleep on until some later event.
    if (auto* dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->interrupt();
    emit finished(result_);
}

} // namespace postlark
