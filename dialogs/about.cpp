#include "about.h"

#include "desktop.h"
#include "generalstuff.h"
#include "programinfo.h"
#include "ui_about.h"

#include <QEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

namespace {

// Links turn this blue while the pointer is over them.
const QColor highlightBlue(0, 0, 255);

} // namespace

About::About(const GeneralStuff& run, Desktop& desktop, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::About>()), m_run(run), m_desktop(desktop)
{
    // The owl lives in this library's resources; a static library's resources
    // are only linked in when something asks for them.
    Q_INIT_RESOURCE(about);

    ui->setupUi(this);

    // A small tool window: title and close box only, no task-bar button, and
    // no other way to change its size.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());

    // The box's own 8.25 pt, as in the Account dialog: the version line's
    // default font then fits its place above the greeting on desktops whose
    // default font is larger.
    QFont boxFont = font();
    boxFont.setPointSizeF(8.25);
    setFont(boxFont);

    // Designer forms only hold whole point sizes, and these fonts are the
    // classic 19, 11 and 13 pixel faces at 96 dpi.
    const struct
    {
        QLabel* label;
        qreal points;
    } fonts[] = {{ui->Label2, 14.25}, {ui->Label6, 8.25}, {ui->Label7, 8.25}, {ui->Label8, 8.25},
                 {ui->Label4, 9.75},  {ui->Label9, 9.75}, {ui->Label5, 9.75}, {ui->Label10, 9.75}};
    for (const auto& entry : fonts) {
        QFont font(QStringLiteral("Comic Sans MS"));
        font.setPointSizeF(entry.points);
        font.setWeight(QFont::Normal);
        entry.label->setFont(font);
    }

    // Every label writes in the button-text colour, on the window's face
    // unless it has a background of its own.
    for (QLabel* label : findChildren<QLabel*>())
        label->setForegroundRole(QPalette::ButtonText);

    QPalette title = ui->Label2->palette();
    title.setColor(QPalette::ButtonText, QColor(255, 0, 0));
    ui->Label2->setPalette(title);

    // The three status lines sit on a darker band; Qt has no application
    // workspace colour, and Dark is the palette's nearest grey.
    for (QLabel* line : {ui->Label6, ui->Label7, ui->Label8})
        line->setBackgroundRole(QPalette::Dark);

    // Only these four labels and the background react to the pointer. The
    // others stay without mouse tracking, so a move over them reaches nobody
    // and leaves the links as they are.
    setMouseTracking(true);
    for (QLabel* hot : {ui->Label9, ui->Label10, ui->Label4, ui->Label5}) {
        hot->setMouseTracking(true);
        hot->installEventFilter(this);
    }
    // The web link covers part of "Visit us at" and must get the pointer there.
    ui->Label9->raise();

    About_Form_Load();
}

About::~About() = default;

QUrl About::webPage()
{
    return QUrl(QStringLiteral("http://www.postowl.example/"));
}

QUrl About::mailAddress()
{
    return QUrl(QStringLiteral("mailto:owl@postowl.example"));
}

QString About::dateTimeText(const QDateTime& when)
{
    // Year first: the one order nobody misreads, whatever the desktop's locale.
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

void About::About_Form_Load()
{
    ui->Label2->setText(ProgramInfo::title());
    // How the check was carried goes before the greeting's line end, where it shows.
    QString greeting = m_run.ServerGreeting;
    if (!m_run.ServerTransport.isEmpty()) {
        qsizetype lineEnd = greeting.size();
        while (lineEnd > 0 && (greeting.at(lineEnd - 1) == QLatin1Char('\n') ||
                               greeting.at(lineEnd - 1) == QLatin1Char('\r')))
            --lineEnd;
        greeting.insert(lineEnd, QStringLiteral(" (") + m_run.ServerTransport + QLatin1Char(')'));
    }
    ui->Label6->setText(greeting);
    if (!m_run.LastCheckTime.isValid()) {
        ui->Label7->setText(QStringLiteral("No mail check performed"));
        ui->Label8->setText(QString());
    } else {
        // Only this sum, not the scheduler's own reckoning (which counts minute
        // boundaries and may check up to a minute earlier). addSecs moves across
        // midnight, month and year ends.
        const qint64 interval = qint64(m_run.ProfileSettings.Interval) * 60;
        ui->Label7->setText(QStringLiteral("Last mail check at ") + dateTimeText(m_run.LastCheckTime));
        ui->Label8->setText(QStringLiteral("Next mail check at ") +
                            dateTimeText(m_run.LastCheckTime.addSecs(interval)));
    }
    // A watched folder has no next time: it waits for the server, or is being reconnected.
    if (!m_run.ConnectionNote.isEmpty())
        ui->Label8->setText(m_run.ConnectionNote);
    else if (m_run.AwaitingNotice)
        ui->Label8->setText(QStringLiteral("Next mail check when the server tells of new mail"));
    ui->Label11->setText(QStringLiteral("Rev %1.%2.%3")
                             .arg(ProgramInfo::Major)
                             .arg(ProgramInfo::Minor)
                             .arg(ProgramInfo::Revision));
}

void About::showEvent(QShowEvent* event)
{
    // Each opening is a fresh box: centred, links in their normal colour, and
    // the values of this moment.
    if (!event->spontaneous()) {
        centreOnScreen();
        setHighlighted(ui->Label9, false);
        setHighlighted(ui->Label10, false);
        About_Form_Load();
    }
    QDialog::showEvent(event);
}

void About::centreOnScreen()
{
    if (QScreen* where = screen()) {
        QRect placed = geometry();
        placed.moveCenter(where->availableGeometry().center());
        move(placed.topLeft());
    }
}

bool About::eventFilter(QObject* watched, QEvent* event)
{
    const bool isLink = watched == ui->Label9 || watched == ui->Label10;
    switch (event->type()) {
    case QEvent::Enter:
        pointerOver(watched);
        return false;
    case QEvent::MouseMove:
        pointerOver(watched);
        // Kept here: a move left to the label would travel on to the window and
        // count as a move over the background too.
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return isLink;
    case QEvent::MouseButtonRelease:
        if (isLink) {
            // A click: the left button let go over the link it was pressed on.
            // What the desktop then does (nothing registered, no network) is
            // not our business; the box stays open either way.
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const auto* link = static_cast<QLabel*>(watched);
            if (mouse->button() == Qt::LeftButton && link->rect().contains(mouse->position().toPoint()))
                m_desktop.openUrl(link == ui->Label9 ? webPage() : mailAddress());
            return true;
        }
        return false;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void About::mouseMoveEvent(QMouseEvent* event)
{
    // Moves over labels without tracking never get here; a move that does is
    // over the bare background unless a label passed it on.
    if (!childAt(event->position().toPoint()))
        pointerOver(this);
    QDialog::mouseMoveEvent(event);
}

void About::pointerOver(QObject* watched)
{
    setHighlighted(ui->Label9, watched == ui->Label9);
    setHighlighted(ui->Label10, watched == ui->Label10);
}

void About::setHighlighted(QLabel* link, bool highlighted)
{
    QPalette colours = link->palette();
    colours.setColor(QPalette::ButtonText,
                     highlighted ? highlightBlue : palette().color(QPalette::ButtonText));
    link->setPalette(colours);
}
