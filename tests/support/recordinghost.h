#pragma once

#include "accounthost.h"

#include <QStringList>

// Stands in for the main window behind the Account dialog and logs every call in order.
class RecordingHost : public AccountHost
{
public:
    void SetTopMost(quint8 flag) override { calls.append(QStringLiteral("SetTopMost(%1)").arg(flag)); }
    void pauseChecks() override { calls.append(QStringLiteral("timer off")); }
    void resumeChecks() override { calls.append(QStringLiteral("timer on")); }
    void setTitle(const QString& text) override
    {
        calls.append(QStringLiteral("title"));
        title = text;
    }
    void setReaderMenuEnabled(bool enabled) override { readerMenu = enabled ? 1 : 0; }
    void SendSMSNotify() override { calls.append(QStringLiteral("SendSMSNotify")); }
    void pushNotify(const QString& text) override { calls.append(QStringLiteral("push: ") + text); }
    void signIn(const OAuthConfig&, std::function<void(const QString& error)> done) override
    {
        calls.append(QStringLiteral("signIn"));
        done(signInError);
    }

    QString signInError;

    QStringList calls;
    QString title;
    int readerMenu = -1;
};
