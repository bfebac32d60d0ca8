#include "passwordkeyring.h"

#include "generalstuff.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <qt6keychain/keychain.h>

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

void PasswordKeyring::run(QKeychain::Job* job, Done done)
{
    // The job is never parented to this object: deleting one that the
    // keyring has not answered yet would leave its callback a dangling job.
    // It deletes itself once it has finished.
    job->setAutoDelete(true);
    // Where no keyring can be reached, the password goes nowhere else.
    job->setInsecureFallback(false);
    // Whichever comes first, the answer or the deadline, is the one; the job
    // may well outlive it.
    auto pending = std::make_shared<Done>(std::move(done));
    QTimer::singleShot(m_deadlineMs, this, [pending] {
        if (const Done done = std::exchange(*pending, nullptr)) {
            Result result;
            result.error = QStringLiteral("it did not answer in time");
            done(result);
        }
    });
    connect(job, &QKeychain::Job::finished, this, [pending](QKeychain::Job* finished) {
        const Done done = std::exchange(*pending, nullptr);
        if (!done)
            return; // too late
        Result result;
        switch (finished->error()) {
        case QKeychain::NoError:
            result.ok = true;
            result.found = true;
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                result.password = read->textData();
            break;
        case QKeychain::EntryNotFound:
            result.ok = true;
            break;
        default:
            result.error = finished->errorString();
            if (result.error.isEmpty())
                result.error = QStringLiteral("error %1").arg(int(finished->error()));
            break;
        }
        done(result);
    });
    job->start();
}

void PasswordKeyring::read(const QString& profile, Entry entry, Done done)
{
    auto* job = new QKeychain::ReadPasswordJob(service());
    job->setKey(entryName(profile, entry));
    run(job, std::move(done));
}

void PasswordKeyring::write(const QString& profile, Entry entry, const QString& password, Done done)
{
    if (password.isEmpty()) {
        remove(profile, entry, std::move(done));
        return;
    }
    auto* job = new QKeychain::WritePasswordJob(service());
    job->setKey(entryName(profile, entry));
    job->setTextData(password);
    run(job, std::move(done));
}

void PasswordKeyring::remove(const QString& profile, Entry entry, Done done)
{
    auto* job = new QKeychain::DeletePasswordJob(service());
    job->setKey(entryName(profile, entry));
    run(job, std::move(done));
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
