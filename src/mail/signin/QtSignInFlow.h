// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The browser sign-in of the sign-in library: the authorization code flow of Qt NetworkAuth,
// with PKCE added through its parameter hook (Qt 6.4 has no call for it), and our own
// listener on 127.0.0.1. The browser's answer must carry the sign-in's state before its code
// reaches the flow, because Qt 6.4 only warns on a wrong one.
#include "mail/signin/SignInModule.h"

#include <QObject>
#include <QTimer>
#include <QVariantMap>

class QNetworkAccessManager;
class QNetworkReply;
class QOAuth2AuthorizationCodeFlow;

namespace postlark {

class LoopbackReplyHandler;

class QtSignInFlow : public QObject, public SignInFlow {
    Q_OBJECT
public:
    explicit QtSignInFlow(SignInSetup setup);
    ~QtSignInFlow() override;

    void Start() override;
    void Stop() override;
    bool IsListening() const override;
    QString ListenAddress() const override;
    QUrl RedirectUri() const override;

private:
    enum class Answer { WrongState, Refused, Code };
    Answer Judge(const QVariantMap& values, QString* text) const;
    void OnRedirect(const QVariantMap& values);
    void OnTokenReply(QNetworkReply* reply);
    void Finish(SignInResult result);
    void Fail(const QString& error);

    SignInSetup setup_;
    QString code_;
    QNetworkAccessManager* network_;
    LoopbackReplyHandler* handler_;
    QOAuth2AuthorizationCodeFlow* flow_;
    QTimer limit_;
    bool stopped_ = false;
};

} // namespace postlark
