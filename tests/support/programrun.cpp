#include "programrun.h"

#include "scramblepassword.h"

ProgramRun::ProgramRun(const QString& fileName)
    : files(fileName.isEmpty() ? std::make_unique<TemporaryStore>()
                               : std::make_unique<TemporaryStore>(TemporaryStore::AtFile{fileName}))
{
}

void ProgramRun::writeProfile(const QString& profile, const QString& extra)
{
    SettingsStore& store = files->store;
    store.save(profile, "ServerName", "127.0.0.1");
    store.save(profile, "UserName", "alice");
    store.save(profile, "Password", ScramblePassword("s3cret"));
    store.save(profile, "Interval", "5");
    store.save(profile, "StartReader", "0");
    store.save(profile, "PlaySound", "1");
    store.save(profile, "NotifyOnce", "1");
    store.save(profile, "NameInBar", "Home");
    for (const QString& pair : extra.split(';', Qt::SkipEmptyParts))
        store.save(profile, pair.section('=', 0, 0), pair.section('=', 1));
}

Form1& ProgramRun::form()
{
    if (!window) {
        window = std::make_unique<Form1>(run, files->store, desktop, clock);
        TrialOverrides overrides;
        overrides.pop3Port = server.port();
        window->setTrialOverrides(overrides);
    }
    return *window;
}

bool ProgramRun::sent(const QString& password) const
{
    return server.receivedLines.contains("PASS " + password.toUtf8() + "\r\n");
}
