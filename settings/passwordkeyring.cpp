#include "passwordkeyring.h"

#include "generalstuff.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPluginLoader>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <utility>

namespace {

using KeyringEntry = GeneralStuff::KeyringEntry;

} // namespace

QString PasswordKeyring::service()
{
    return QStringLiteral("PostOwl");
}

QString PasswordKeyring::entryName(const QString& profile, Entry entry)
{
    switch (entry) {
    case Entry::Pop3:
        return profile + QStringLiteral("/POP3");
    case Entry::Sms:
        return profile + QStringLiteral("/SMS");
    case Entry::OAuth:
        return profile + QStringLiteral("/OAuth");
    case Entry::OAuthSecret:
        return profile + QStringLiteral("/OAuthSecret");
    }
    Q_UNREACHABLE();
}

PasswordKeyring::PasswordKeyring(QObject* parent) : QObject(parent) {}

PasswordKeyring::~PasswordKeyring() = default;

KeyringBackend* PasswordKeyring::backend()
{
    if (m_backend || m_module)
        return m_backend;
    // Beside the program (a build, Windows), then where an installation puts
    // its private libraries, relative to the program's own folder.
    const QString folder = QCoreApplication::applicationDirPath();
    for (const QString& place : {folder, folder + QStringLiteral("/" POSTOWL_KEYRING_MODULE_FOLDER)}) {
        m_module = std::make_unique<QPluginLoader>(place + QStringLiteral("/" POSTOWL_KEYRING_MODULE));
        m_backend = qobject_cast<KeyringBackend*>(m_module->instance());
        if (m_backend)
            break;
    }
    if (!m_backend)
        qWarning("PostOwl: the keyring module could not be loaded: %s", qPrintable(m_module->errorString()));
    return m_backend;
}

void PasswordKeyring::run(KeyringBackend::Job job, const QString& profile, Entry entry,
                          const QString& password, Done done)
{
    // Whichever comes first, the answer or the deadline, is the one; the job
    // may well outlive it.
    auto pending = std::make_shared<Done>(std::move(done));
    KeyringBackend* keyring = backend();
    if (!keyring) {
        // Answered from the event loop, as the keyring would.
        QTimer::singleShot(0, this, [pending] {
            Result result;
            result.error = QStringLiteral("its module is missing");
            (*pending)(result);
        });
        return;
    }
    QTimer::singleShot(m_deadlineMs, this, [pending] {
        if (const Done done = std::exchange(*pending, nullptr)) {
            Result result;
            result.error = QStringLiteral("it did not answer in time");
            done(result);
        }
    });
    keyring->start(job, service(), entryName(profile, entry), password, this,
                   [pending](const Result& result) {
                       if (const Done done = std::exchange(*pending, nullptr))
                           done(result);
                   });
}

void PasswordKeyring::read(const QString& profile, Entry entry, Done done)
{
    run(KeyringBackend::Job::Read, profile, entry, QString(), std::move(done));
}

void PasswordKeyring::write(const QString& profile, Entry entry, const QString& password, Done done)
{
    if (password.isEmpty()) {
        remove(profile, entry, std::move(done));
        return;
    }
    run(KeyringBackend::Job::Write, profile, entry, password, std::move(done));
}

void PasswordKeyring::remove(const QString& profile, Entry entry, Done done)
{
    run(KeyringBackend::Job::Remove, profile, entry, QString(), std::move(done));
}

PasswordKeyring::Result PasswordKeyring::waitFor(const std::function<void(Done)>& start)
{
    // Shared with the callback: should the loop be ended from outside (the
    // application quitting), a late answer must not write into this frame.
    struct Wait
    {
        bool finished = false;
        Result result;
    };
    auto wait = std::make_shared<Wait>();
    wait->result.error = QStringLiteral("The desktop keyring did not answer.");
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    start([wait, guard](const Result& result) {
        wait->finished = true;
        wait->result = result;
        if (guard)
            guard->quit();
    });
    if (!wait->finished)
        loop.exec();
    return wait->result;
}

PasswordKeyring::Result PasswordKeyring::writeNow(const QString& profile, Entry entry,
                                                  const QString& password)
{
    return waitFor([&](Done done) { write(profile, entry, password, std::move(done)); });
}

PasswordKeyring::Result PasswordKeyring::removeNow(const QString& profile, Entry entry)
{
    return waitFor([&](Done done) { remove(profile, entry, std::move(done)); });
}

void PasswordKeyring::readPasswords(GeneralStuff& run, std::function<void(const QString& error)> done)
{
    ProfileSettings& record = run.ProfileSettings;
    // Nothing the file may still hold stands in for a keyring password.
    record.Password.clear();
    record.SMSPassword.clear();
    run.Pop3Entry = KeyringEntry::Unknown;
    run.SmsEntry = KeyringEntry::Unknown;

    struct Reading
    {
        int remaining = 2;
        QString error;
    };
    auto reading = std::make_shared<Reading>();
    auto take = [&run, reading, done](QString ProfileSettings::*field, KeyringEntry GeneralStuff::*state) {
        return [&run, reading, done, field, state](const Result& result) {
            if (result.ok) {
                run.ProfileSettings.*field = result.password;
                run.*state =
                    result.found && !result.password.isEmpty() ? KeyringEntry::Held : KeyringEntry::Empty;
            } else if (reading->error.isEmpty()) {
                reading->error = result.error;
            }
            if (--reading->remaining == 0)
                done(reading->error);
        };
    };
    const QString profile = record.ProfileName;
    read(profile, Entry::Pop3, take(&ProfileSettings::Password, &GeneralStuff::Pop3Entry));
    read(profile, Entry::Sms, take(&ProfileSettings::SMSPassword, &GeneralStuff::SmsEntry));
}
