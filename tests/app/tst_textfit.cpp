// Every text of the program's forms shows whole: no label, check box or
// button cuts its text off, and no other control lies over it. Run once at
// 96 dpi and once with QT_SCALE_FACTOR=2, with the free look-alike of the
// forms' font that the demo installs.

#include "about.h"
#include "account.h"
#include "fakedesktop.h"
#include "generalstuff.h"
#include "passwordentry.h"
#include "recordinghost.h"
#include "serveroptions.h"
#include "smsgateway.h"
#include "temporarystore.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Where a control draws its text, in its own coordinates, and the room it
// gives the text there.
struct TextPlace
{
    QRect drawn;
    QRect room;
};

TextPlace textPlace(QWidget* widget, const QString& text)
{
    const QFontMetrics metrics(widget->font());
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(),
                                                          -label->margin());
        int flags = int(label->alignment());
        if (label->wordWrap())
            flags |= Qt::TextWordWrap;
        return {metrics.boundingRect(room, flags, text), room};
    }
    auto* button = qobject_cast<QAbstractButton*>(widget);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool isCheckBox = qobject_cast<QCheckBox*>(button);
    const QRect room = button->style()->subElementRect(
        isCheckBox ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents, &option, button);
    const QSize size = metrics.size(Qt::TextShowMnemonic, text);
    const Qt::Alignment alignment = isCheckBox ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter;
    return {QStyle::alignedRect(button->layoutDirection(), alignment, size, room), room};
}

// Labels and buttons alike keep their text in the property "text".
QString textOf(QWidget* widget)
{
    return widget->property("text").toString();
}

// What a control hides of the controls beneath it, in its parent's
// coordinates: a label without a background of its own only its text.
QRect covered(QWidget* widget)
{
    if (qobject_cast<QLabel*>(widget) && !widget->autoFillBackground())
        return textPlace(widget, textOf(widget)).drawn.translated(widget->pos());
    return widget->geometry();
}

} // namespace

class TestTextFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyTextShowsWhole_data();
    void everyTextShowsWhole();
};

void TestTextFit::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // Another font measures differently: without it this test would prove nothing.
    QVERIFY2(QFontDatabase::families().contains(QStringLiteral("Comic Neue")),
             "the font Comic Neue is not installed (Debian: fonts-comic-neue; scripts/test installs it)");
    // As main() does.
    QFont::insertSubstitution(QStringLiteral("Comic Sans MS"), QStringLiteral("Comic Neue"));
}

void TestTextFit::everyTextShowsWhole_data()
{
    QTest::addColumn<QString>("form");
    QTest::newRow("Account") << "Account";
    QTest::newRow("About") << "About";
    QTest::newRow("PasswordEntry") << "PasswordEntry";
    QTest::newRow("ServerOptions") << "ServerOptions";
}

void TestTextFit::everyTextShowsWhole()
{
    QFETCH(QString, form);

    TemporaryStore files;
    GeneralStuff run;
    run.ProfileSettings.ProfileName = QStringLiteral("DEFAULT");
    run.ProfileSettings.UserName = QStringLiteral("alice");
    run.ProfileSettings.ServerName = QStringLiteral("pop.example.com");
    // The About box's lines as they read after a check.
    run.ServerGreeting = QStringLiteral("Dovecot (Debian) ready.");
    run.LastCheckTime = QDateTime(QDate(2026, 12, 28), QTime(23, 58, 59));
    FakeDesktop desktop;
    RecordingHost host;

    std::unique_ptr<QDialog> dialog;
    if (form == QLatin1String("Account"))
        dialog =
            std::make_unique<Account>(run, files.store, desktop, host, QString::fromLatin1(SmsGatewayHost));
    else if (form == QLatin1String("ServerOptions"))
        dialog = std::make_unique<ServerOptions>();
    else if (form == QLatin1String("About"))
        dialog = std::make_unique<About>(run, desktop);
    else
        dialog = std::make_unique<PasswordEntry>(run.ProfileSettings);
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));

    QStringList faults;
    for (QWidget* widget : dialog->findChildren<QWidget*>()) {
        if (!qobject_cast<QLabel*>(widget) && !qobject_cast<QAbstractButton*>(widget))
            continue;
        const QString text = textOf(widget);
        if (text.isEmpty() || !widget->isVisible())
            continue;
        const TextPlace place = textPlace(widget, text);
        const QString where = widget->objectName() + QStringLiteral(" \"") + text + QLatin1Char('"');
        if (!place.room.contains(place.drawn))
            faults.append(QStringLiteral("%1 needs %2x%3, has %4x%5")
                              .arg(where)
                              .arg(place.drawn.width())
                              .arg(place.drawn.height())
                              .arg(place.room.width())
                              .arg(place.room.height()));
        // A control stacked above this one must not lie over its text.
        const QRect drawn = place.drawn.translated(widget->pos());
        const QObjectList siblings = widget->parentWidget()->children();
        for (qsizetype above = siblings.indexOf(widget) + 1; above < siblings.size(); ++above) {
            auto* sibling = qobject_cast<QWidget*>(siblings.at(above));
            if (sibling && sibling->isVisible() && covered(sibling).intersects(drawn))
                faults.append(where + QStringLiteral(" lies under ") + sibling->objectName());
        }
    }
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

QTEST_MAIN(TestTextFit)
#include "tst_textfit.moc"
