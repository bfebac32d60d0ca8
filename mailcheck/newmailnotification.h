#pragma once

#include <QString>

#include <optional>

class Clock;
class Desktop;
class MailCheckView;
struct GeneralStuff;

// Turns the count of a completed check into what the user sees and hears.
class NewMailNotification
{
public:
    NewMailNotification(GeneralStuff& run, Clock& clock, Desktop& desktop, MailCheckView& view);

    // arrived: for a watched IMAP folder, whether new mail came since the
    // last count; "Notify only once" then goes by arrivals, not by counts.
    // senders: the lines naming the new messages, for the desktop notification.
    void handleCount(int count, std::optional<bool> arrived = std::nullopt,
                     const QString& senders = QString());

private:
    void notify(const QString& status, const QString& senders);

    GeneralStuff& m_run;
    Clock& m_clock;
    Desktop& m_desktop;
    MailCheckView& m_view;
};
