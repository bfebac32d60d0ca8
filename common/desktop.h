#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QUrl;
class QWidget;

// Everything that reaches out of the program onto the user's desktop: modal
// windows, the beep, starting programs, opening addresses. The real one is
// built in main(); tests hand in a recording fake with scripted answers.
class Desktop
{
public:
    virtual ~Desktop() = default;

    // A modal message box; returns the button the user chose.
    virtual QMessageBox::StandardButton
    message(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
            QMessageBox::StandardButtons buttons = QMessageBox::Ok,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton) = 0;

    // Shows a dialog modally and returns its result once it is closed.
    virtual int execDialog(QDialog& dialog) = 0;

    virtual void beep() = 0;

    // Starts the program named by a whole command line, not waiting for it.
    // False when it could not be started; callers may ignore that.
    virtual bool startProgram(const QString& commandLine) = 0;

    // Opens a web address or a mailto: address with the desktop's handler.
    virtual void openUrl(const QUrl& url) = 0;

    // Whether the desktop shows tray icons at all.
    virtual bool trayAvailable() const = 0;
};
