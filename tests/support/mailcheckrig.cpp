#include "mailcheckrig.h"

#include <QDialog>
#include <QLineEdit>
#include <QTest>

namespace {
constexpr int CheckTimeoutMs = 5000;
}

MailCheckRig::MailCheckRig(quint16 port, const QString& host)
    : check(run, settings.store, network, clock, desktop, view)
{
    ProfileSettings& settings = run.ProfileSettings;
    settings.ProfileName = QStringLiteral("DEFAULT");
    settings.ServerName = host;
    settings.UserName = QStringLiteral("alice");
    settings.Password = QStringLiteral("s3cret");
    check.setPort(port);
}

bool MailCheckRig::checkOnce()
{
    check.checkNow();
    return QTest::qWaitFor([this] { return !check.isChecking(); }, CheckTimeoutMs);
}

bool MailCheckRig::tick()
{
    const QString starting = QStringLiteral("Starting");
    const int before = view.statusHistory.count(starting);
    check.Timer1_Timer();
    if (view.statusHistory.count(starting) == before)
        return false;
    return QTest::qWaitFor([this] { return !check.isChecking(); }, CheckTimeoutMs);
}

FakeDesktop::DialogAction typePassword(const QString& password)
{
    return [password](QDialog& dialog) {
        auto* field = dialog.findChild<QLineEdit*>(QStringLiteral("Text1"));
        if (!field)
            return int(QDialog::Rejected);
        // Enter reaches the default button of a visible dialog only.
        dialog.show();
        field->setText(password);
        QTest::keyClick(field, Qt::Key_Return);
        return dialog.result();
    };
}
