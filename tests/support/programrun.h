#pragma once

#include "fakeclock.h"
#include "fakedesktop.h"
#include "form1.h"
#include "generalstuff.h"
#include "scriptedpop3server.h"
#include "temporarystore.h"
#include "trialoverrides.h"

#include <memory>

// One run of the program around its real main window: a settings file of its
// own, a recording desktop and a scripted POP3 server the checks go to.
struct ProgramRun
{
    // Empty: a fresh file of its own; else a file that outlives the run.
    explicit ProgramRun(const QString& fileName = QString());

    // A complete profile for alice on the scripted server; `extra` adds
    // "Key=value" pairs separated by ";".
    void writeProfile(const QString& profile, const QString& extra = QString());
    // The main window, made at first use, so a test may swap the store first.
    Form1& form();
    // What the file says now, or "absent".
    QString stored(const QString& profile, const QString& key) const { return files->reread(profile, key); }
    // Whether a check sent this password.
    bool sent(const QString& password) const;

    std::unique_ptr<TemporaryStore> files;
    ScriptedPop3Server server;
    GeneralStuff run;
    FakeClock clock;
    FakeDesktop desktop;
    std::unique_ptr<Form1> window;
};
