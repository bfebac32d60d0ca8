#pragma once

#include "desktop.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>

// Records everything the program does to the desktop and answers its modal
// windows from a script. A question the test did not script fails the test.
class FakeDesktop : public Desktop
{
public:
    struct Message
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };
    using Answer = std::function<QMessageBox::StandardButton(const Message&)>;
    using DialogAction = std::function<int(QDialog&)>;

    // Queues the answer to the next question (a box with more than an OK button).
    void answerNext(QMessageBox::StandardButton button);
    // Queues an answer that runs code first, e.g. to let a nested check happen
    // while the question is "open".
    void answerNextWith(Answer answer);
    // Queues what happens to the next modal dialog instead of a nested event loop.
    void handleNextDialog(DialogAction action);

    QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                        const QString& text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    int execDialog(QDialog& dialog) override;
    void beep() override { ++beeps; }
    bool startProgram(const QString& commandLine) override;
    void openUrl(const QUrl& url) override
    {
        openedUrls.append(url);
        if (whenUrlOpened)
            whenUrlOpened(url);
    }
    bool trayAvailable() const override { return tray; }

    QStringList messageTexts() const;

    QList<Message> messages;
    int beeps = 0;
    QStringList startedPrograms;
    QList<QUrl> openedUrls;
    QStringList shownDialogs; // object names of the dialogs shown
    // Runs while each message box is "open", OK-only boxes included, before
    // it is answered: lets a test watch what happens behind it.
    std::function<void(const Message&)> whileOpen;
    // Runs for each address opened, e.g. a stand-in browser that fetches it.
    std::function<void(const QUrl&)> whenUrlOpened;
    bool tray = true;
    bool startSucceeds = true;

private:
    QList<Answer> m_answers;
    QList<DialogAction> m_dialogActions;
};
