#pragma once

#include <QColor>
#include <QString>

class QWidget;

// What a mail check needs of the main window. Form1 implements it; tests use a
// recording stand-in.
class MailCheckView
{
public:
    virtual ~MailCheckView() = default;

    virtual void setStatusText(const QString& text) = 0;
    virtual void setStatusColor(const QColor& background) = 0;
    // The window icon: the mailbox with its flag raised when mail waits.
    virtual void setMailIcon(bool mailWaiting) = 0;
    virtual void setTitle(const QString& title) = 0;
    virtual void UpdateTrayIcon() = 0;
    // Starts the mail reader; every failure is ignored.
    virtual void mnuReader_Click() = 0;
    virtual void SendSMSNotify() = 0;
    // Whether the desktop notification that announceNewMail would show now
    // plays the new-mail sound itself; the beep then stays silent, so the
    // sound comes once.
    virtual bool notificationPlaysSound() = 0;
    // Tells the user of new mail on the desktop and on the phone, as far as
    // the profile asks for it; `text` is e.g. "Home - 3 message(s)". `senders`
    // has a line "sender — subject" for each of the newest new messages, empty
    // when the profile does not show them or none is known. `withSound`: the
    // notification asks for the new-mail sound (see notificationPlaysSound).
    virtual void announceNewMail(const QString& text, const QString& senders, bool withSound) = 0;
    // Parent for the check's message boxes.
    virtual QWidget* dialogParent() = 0;
};
