#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class About;
}
class Desktop;
class QDateTime;
class QLabel;
class QUrl;
struct GeneralStuff;

// The About box: title, version, the server's latest greeting, the last and
// the next mail check, and the two links to us. It has no buttons; the close
// box of its title bar ends it.
class About : public QDialog
{
    Q_OBJECT

public:
    About(const GeneralStuff& run, Desktop& desktop, QWidget* parent = nullptr);
    ~About() override;

    // Fills the title, greeting, check and version lines from the run's
    // values of this moment. Runs at every opening.
    void About_Form_Load();

    // The text a date and time is shown in: "2026-12-08 09:05:33".
    static QString dateTimeText(const QDateTime& when);

    static QUrl webPage();
    static QUrl mailAddress();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void pointerOver(QObject* watched);
    void setHighlighted(QLabel* link, bool highlighted);
    void centreOnScreen();

    std::unique_ptr<Ui::About> ui;
    const GeneralStuff& m_run;
    Desktop& m_desktop;
};
