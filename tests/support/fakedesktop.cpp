#include "fakedesktop.h"

#include <QDialog>
#include <QTest>

void FakeDesktop::answerNext(QMessageBox::StandardButton button)
{
    m_answers.append([button](const Message&) { return button; });
}

void FakeDesktop::answerNextWith(Answer answer)
{
    m_answers.append(std::move(answer));
}

void FakeDesktop::handleNextDialog(DialogAction action)
{
    m_dialogActions.append(std::move(action));
}

QMessageBox::StandardButton FakeDesktop::message(QWidget*, QMessageBox::Icon icon, const QString& title,
                                                 const QString& text, QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton)
{
    const Message shown{icon, title, text, buttons, defaultButton};
    messages.append(shown);
    if (whileOpen)
        whileOpen(shown);
    if (buttons == QMessageBox::Ok)
        return QMessageBox::Ok;
    if (m_answers.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unscripted question: ") + text), __FILE__, __LINE__);
        return QMessageBox::No;
    }
    return m_answers.takeFirst()(shown);
}

int FakeDesktop::execDialog(QDialog& dialog)
{
    shownDialogs.append(dialog.objectName());
    if (m_dialogActions.isEmpty()) {
        QTest::qFail(qPrintable(QStringLiteral("unscripted dialog: ") + dialog.objectName()), __FILE__,
                     __LINE__);
        return QDialog::Rejected;
    }
    return m_dialogActions.takeFirst()(dialog);
}

bool FakeDesktop::startProgram(const QString& commandLine)
{
    startedPrograms.append(commandLine);
    return startSucceeds;
}

QStringList FakeDesktop::messageTexts() const
{
    QStringList texts;
    for (const Message& shown : messages)
        texts.append(shown.text);
    return texts;
}
