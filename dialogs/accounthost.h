#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

struct OAuthConfig;

// What the Account dialog needs of the main window. Form1 implements it; tests
// use a recording stand-in. The signatures match MailCheckView's where the two
// overlap, so one implementation in Form1 serves both.
class AccountHost
{
public:
    virtual ~AccountHost() = default;

    // 1 makes the main window top-most, any other value not.
    virtual void SetTopMost(quint8 flag) = 0;
    // While the dialog is open no new mail check starts; closing it resumes them.
    virtual void pauseChecks() = 0;
    virtual void resumeChecks() = 0;
    virtual void setTitle(const QString& title) = 0;
    // The Mailbox menu's "start the mail reader" item, mnuReader.
    virtual void setReaderMenuEnabled(bool enabled) = 0;
    // Starts an SMS notification with the record's SMS fields.
    virtual void SendSMSNotify() = 0;
    // Pushes `text` to the record's push URL.
    virtual void pushNotify(const QString& text) = 0;
    // Signs in with the provider in the user's browser; done gets the empty
    // text once signed in, else why not.
    virtual void signIn(const OAuthConfig& config, std::function<void(const QString& error)> done) = 0;
};
