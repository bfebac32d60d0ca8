#include "clock.h"
#include "form1.h"
#include "generalstuff.h"
#include "mailcheck.h"
#include "qtdesktop.h"
#include "settingsstore.h"
#include "unixsignals.h"

#include <QApplication>
#include <QFont>
#include <QSettings>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // The window spends most of its life hidden in the tray; only Exit ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    // Where the desktop lacks the window's font, its free look-alike will do.
    QFont::insertSubstitution(QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"));

    const std::unique_ptr<QSettings> settings = SettingsStore::openUserSettings();
    SettingsStore store(*settings);
    GeneralStuff run;
    SystemClock clock;
    QtDesktop desktop;

    Form1 form(run, store, desktop, clock);
    form.mailCheck().setPort(pop3PortFromEnvironment());
    QObject::connect(&form, &Form1::unloaded, &application, &QApplication::quit, Qt::QueuedConnection);
    // Logging off or shutting down ends the run like Exit does.
    QObject::connect(&application, &QApplication::aboutToQuit, &form, &Form1::Form_Unload);
    UnixSignals endRequests; // SIGTERM, SIGHUP, SIGINT: the same orderly end
    QObject::connect(&endRequests, &UnixSignals::received, &form, &Form1::Form_Unload);

    if (!form.Form_Load(profileNameFromArguments(QApplication::arguments().mid(1))))
        return 0;
    return application.exec();
}
