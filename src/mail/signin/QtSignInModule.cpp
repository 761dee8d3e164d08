// SPDX-License-Identifier: GPL-3.0-or-later
// The entry point of the sign-in library (SignInModule.h) and its requests to token services.
#include "mail/signin/QtSignInFlow.h"
#include "mail/signin/SignInModule.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace postlark {

namespace {

SignInFlow* NewFlow(SignInSetup setup) {
    return new QtSignInFlow(std::move(setup));
}

// One network connection per caller, made at its first request and gone with it.
void PostTokenForm(QObject* context, const QUrl& url, const QByteArray& form,
                   std::function<void(TokenAnswer)> done) {
    const QString name = QStringLiteral("TokenServiceNetwork");
    auto* network = context->findChild<QNetworkAccessManager*>(name, Qt::FindDirectChildrenOnly);
    if (!network) {
        network = new QNetworkAccessManager(context);
        network->setObjectName(name);
        network->setTransferTimeout(TokenAnswer::kTimeoutSeconds * 1000);
    }
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");
    QNetworkReply* reply = network->post(request, form);
    QObject::connect(reply, &QNetworkReply::finished, context, [reply, done = std::move(done)] {
        reply->deleteLater();
        done(TokenAnswer::Read(*reply));
    });
}

const SignInModuleApi kApi{NewFlow, PostTokenForm};

} // namespace

} // namespace postlark

extern "C" __attribute__((visibility("default"))) const postlark::SignInModuleApi*
postlark_signin_module() {
    return &postlark::kApi;
}
