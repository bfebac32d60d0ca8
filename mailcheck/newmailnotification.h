#pragma once

class Clock;
class Desktop;
class MailCheckView;
class QString;
struct GeneralStuff;

// Turns the count of a completed check into what the user sees and hears.
class NewMailNotification
{
public:
    NewMailNotification(GeneralStuff& run, Clock& clock, Desktop& desktop, MailCheckView& view);

    void handleCount(int count);

private:
    void notify(const QString& status);

    GeneralStuff& m_run;
    Clock& m_clock;
    Desktop& m_desktop;
    MailCheckView& m_view;
};
