#pragma once

#include "mailcheckview.h"

#include <QStringList>

// Stands in for the main window: keeps what a check shows and counts the calls
// that would reach the tray, the mail reader and the SMS client.
class RecordingView : public MailCheckView
{
public:
    void setStatusText(const QString& text) override
    {
        statusText = text;
        statusHistory.append(text);
    }
    void setStatusColor(const QColor& background) override { statusColor = background; }
    void setMailIcon(bool mailWaiting) override { mailIcon = mailWaiting; }
    void setTitle(const QString& text) override { title = text; }
    void UpdateTrayIcon() override { ++trayUpdates; }
    void mnuReader_Click() override { ++readerStarts; }
    void SendSMSNotify() override { ++smsSent; }
    bool notificationPlaysSound() override { return playsSound; }
    void announceNewMail(const QString& text, const QString& senders, bool withSound) override
    {
        announcements.append(text);
        announcedSenders.append(senders);
        announcedWithSound.append(withSound);
    }
    QWidget* dialogParent() override { return nullptr; }

    QString statusText;
    QStringList statusHistory;
    QColor statusColor;
    bool mailIcon = false;
    QString title;
    int trayUpdates = 0;
    int readerStarts = 0;
    int smsSent = 0;
    QStringList announcements;
    QStringList announcedSenders;
    QList<bool> announcedWithSound;
    bool playsSound = false; // as a notification service that announces "sound"
};
