#include "clock.h"
#include "commandline.h"
#include "deferredstyleicons.h"
#include "form1.h"
#include "generalstuff.h"
#include "mailcheck.h"
#include "programinfo.h"
#include "qtdesktop.h"
#include "settingsstore.h"
#include "singleinstance.h"
#include "trialoverrides.h"
#include "unixsignals.h"
#include "verboselog.h"

#include <QApplication>
#include <QFont>
#include <QSessionManager>
#include <QSettings>
#include <QStyle>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[])
{
    // The whole command line is the profile's name, so it is read before Qt
    // could take options such as -style or -reverse out of it, and Qt is not
    // handed any of it. --help and --version need no display.
    const CommandLine commandLine = CommandLine::parse(CommandLine::rawArguments(argc, argv));
    if (commandLine.action != CommandLine::Action::Run) {
        std::fputs(commandLine.answer().toLocal8Bit().constData(), stdout);
        return 0;
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setStyle(new DeferredStyleIcons(QApplication::style()->name()));
    // The window spends most of its life hidden in the tray; only Exit ends the run.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(ProgramInfo::componentId());
    // Where the desktop lacks the window's font, its free look-alike will do.
    QFont::insertSubstitution(QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"));
    // Starting with the desktop is the autostart entry's business; a session
    // manager restoring the program as well would start the profile twice.
    QObject::connect(&application, &QGuiApplication::saveStateRequest,
                     [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); });

    QtDesktop qtDesktop;
    Desktop& desktop = qtDesktop;
    SingleInstance instance(commandLine.profileName);
    // Only the lock is taken before the window: a second start must not show
    // one. Recording this run and answering later starts, like catching the
    // end signals, waits until the event loop runs, when the window is up
    // (or, for a profile without a server, its Account dialog).
    switch (instance.lock()) {
    case SingleInstance::Claim::First:
        break;
    case SingleInstance::Claim::OtherRaised:
        return 0;
    case SingleInstance::Claim::OtherUnreachable:
        desktop.message(nullptr, QMessageBox::Information, ProgramInfo::title(),
                        QStringLiteral("PostOwl is already watching profile ") + commandLine.profileName +
                            QLatin1Char('.'));
        return 0;
    }

    const std::unique_ptr<QSettings> settings = SettingsStore::openUserSettings();
    SettingsStore store(*settings);
    GeneralStuff run;
    SystemClock clock;
    VerboseLog verboseLog(commandLine.verbose);

    Form1 form(run, store, desktop, clock);
    form.setTrialOverrides(TrialOverrides::fromEnvironment());
    QObject::connect(&form.mailCheck(), &MailCheck::dialogue, &verboseLog, &VerboseLog::write);
    QObject::connect(&form, &Form1::verboseNote, &verboseLog, &VerboseLog::write);
    QObject::connect(&instance, &SingleInstance::raiseRequested, &form, &Form1::bringToFront);
    QObject::connect(&form, &Form1::unloaded, &application, &QApplication::quit, Qt::QueuedConnection);
    // Logging off or shutting down ends the run like Exit does.
    QObject::connect(&application, &QApplication::aboutToQuit, &form, &Form1::Form_Unload);
    QTimer::singleShot(0, &instance, &SingleInstance::serve);
    std::unique_ptr<UnixSignals> endRequests; // SIGTERM, SIGHUP, SIGINT: the same orderly end
    QTimer::singleShot(0, &form, [&endRequests, &form] {
        endRequests = std::make_unique<UnixSignals>();
        QObject::connect(endRequests.get(), &UnixSignals::received, &form, &Form1::Form_Unload);
    });

    if (!form.Form_Load(commandLine.profileName))
        return 0;
    return application.exec();
}
