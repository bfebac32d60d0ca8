#pragma once

#include "desktop.h"
#include "eventsound.h"

// The real desktop: Qt's message boxes, the sound theme's new-mail sound (the
// bell where there is none), process start and URL handling.
class QtDesktop : public Desktop
{
public:
    QtDesktop();

    QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                        const QString& text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    int execDialog(QDialog& dialog) override;
    void beep() override;
    bool startProgram(const QString& commandLine) override;
    void openUrl(const QUrl& url) override;
    bool trayAvailable() const override;

private:
    EventSound m_sound;
};
