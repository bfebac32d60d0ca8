#pragma once

#include "desktop.h"

// The real desktop: Qt's message boxes, beep, process start and URL handling.
class QtDesktop : public Desktop
{
public:
    QMessageBox::StandardButton message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                        const QString& text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton) override;
    int execDialog(QDialog& dialog) override;
    void beep() override;
    bool startProgram(const QString& commandLine) override;
    void openUrl(const QUrl& url) override;
    bool trayAvailable() const override;
};
