#include "qtdesktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QUrl>

QtDesktop::QtDesktop()
{
    // Most desktops today leave the X bell silent: it is what rings where
    // the sound could not be played.
    QObject::connect(&m_sound, &EventSound::finished, &m_sound, [](bool played) {
        if (!played)
            QApplication::beep();
    });
}

QMessageBox::StandardButton QtDesktop::message(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                               const QString& text, QMessageBox::StandardButtons buttons,
                                               QMessageBox::StandardButton defaultButton)
{
    // A hidden main window would take its message box out of sight with it.
    if (parent && !parent->isVisible())
        parent = nullptr;
    QMessageBox box(icon, title, text, buttons, parent);
    // Texts carry profile names and server replies: shown as they are, never
    // read as markup.
    box.setTextFormat(Qt::PlainText);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return QMessageBox::StandardButton(box.exec());
}

int QtDesktop::execDialog(QDialog& dialog)
{
    return dialog.exec();
}

void QtDesktop::beep()
{
    // Mail arriving faster than a sound server answers still gets heard.
    if (!m_sound.play())
        QApplication::beep();
}

bool QtDesktop::startProgram(const QString& commandLine)
{
    // A path with blanks that names a program as a whole is that program, not
    // a program with arguments; a path with blanks and arguments is quoted.
    const QFileInfo whole(commandLine);
    if (whole.isFile() && whole.isExecutable())
        return QProcess::startDetached(whole.absoluteFilePath(), QStringList());
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return false;
    const QString program = arguments.takeFirst();
    return QProcess::startDetached(program, arguments);
}

void QtDesktop::openUrl(const QUrl& url)
{
    QDesktopServices::openUrl(url);
}

bool QtDesktop::trayAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}
