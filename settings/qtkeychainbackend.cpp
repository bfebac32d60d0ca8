#include "qtkeychainbackend.h"

#include <qt6keychain/keychain.h>

#include <utility>

void QtKeychainBackend::start(Job job, const QString& service, const QString& key, const QString& password,
                              QObject* context, Done done)
{
    QKeychain::Job* started = nullptr;
    switch (job) {
    case Job::Read:
        started = new QKeychain::ReadPasswordJob(service);
        break;
    case Job::Write: {
        auto* write = new QKeychain::WritePasswordJob(service);
        write->setTextData(password);
        started = write;
        break;
    }
    case Job::Remove:
        started = new QKeychain::DeletePasswordJob(service);
        break;
    }
    started->setKey(key);
    // The job is never parented to the context: deleting one that the
    // keyring has not answered yet would leave its callback a dangling job.
    // It deletes itself once it has finished.
    started->setAutoDelete(true);
    // Where no keyring can be reached, the password goes nowhere else.
    started->setInsecureFallback(false);
    connect(started, &QKeychain::Job::finished, context, [done = std::move(done)](QKeychain::Job* finished) {
        KeyringAnswer answer;
        switch (finished->error()) {
        case QKeychain::NoError:
            answer.ok = true;
            answer.found = true;
            if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(finished))
                answer.password = read->textData();
            break;
        case QKeychain::EntryNotFound:
            answer.ok = true;
            break;
        default:
            answer.error = finished->errorString();
            if (answer.error.isEmpty())
                answer.error = QStringLiteral("error %1").arg(int(finished->error()));
            break;
        }
        done(answer);
    });
    started->start();
}
