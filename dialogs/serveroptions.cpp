#include "serveroptions.h"

#include "blanks.h"
#include "mailports.h"
#include "profilesettings.h"
#include "ui_serveroptions.h"

#include <QHostAddress>

ServerOptions::ServerOptions(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::ServerOptions>())
{
    ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    setModal(true);
    QPalette warning = ui->PlainWarning->palette();
    warning.setColor(QPalette::WindowText, QColor(255, 0, 0));
    ui->PlainWarning->setPalette(warning);

    for (QComboBox* combo : {ui->ProtocolCombo, ui->SecurityCombo})
        connect(combo, &QComboBox::currentIndexChanged, this, [this] {
            followRules();
            emit edited();
        });
    for (QLineEdit* field : {ui->PortField, ui->FolderField})
        connect(field, &QLineEdit::textChanged, this, &ServerOptions::edited);
    connect(ui->CloseButton, &QPushButton::clicked, this, &QDialog::accept);
    followRules();
}

ServerOptions::~ServerOptions() = default;

void ServerOptions::fill(const ProfileSettings& record)
{
    ui->ProtocolCombo->setCurrentIndex(record.Protocol == 1 ? 1 : 0);
    ui->SecurityCombo->setCurrentIndex(record.Security <= 2 ? record.Security : 0);
    // Empty stands for the standard port of the chosen security.
    ui->PortField->setText(record.Port != 0 ? QString::number(record.Port) : QString());
    ui->FolderField->setText(record.Folder);
    followRules();
}

void ServerOptions::readInto(ProfileSettings& record, quint16 port) const
{
    record.Protocol = quint8(ui->ProtocolCombo->currentIndex());
    record.Security = quint8(ui->SecurityCombo->currentIndex());
    record.Port = port;
    record.Folder = trimBlanks(ui->FolderField->text());
}

QLineEdit* ServerOptions::portField() const
{
    return ui->PortField;
}

int ServerOptions::protocol() const
{
    return ui->ProtocolCombo->currentIndex();
}

void ServerOptions::setServerName(const QString& host)
{
    m_serverName = host;
    followRules();
}

bool ServerOptions::isOnThisMachine(const QString& host)
{
    QString name = trimBlanks(host);
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        name.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive))
        return true;
    const QHostAddress address(name);
    return !address.isNull() && address.isLoopback();
}

void ServerOptions::followRules()
{
    const bool imap = ui->ProtocolCombo->currentIndex() == 1;
    ui->FolderField->setEnabled(imap);
    ui->FolderLabel->setEnabled(imap);
    // A line of warning, no more: a server in one's own network may be fine.
    ui->PlainWarning->setVisible(ui->SecurityCombo->currentIndex() == 0 &&
                                 !trimBlanks(m_serverName).isEmpty() && !isOnThisMachine(m_serverName));
}

QString ServerOptions::summary() const
{
    const int security = ui->SecurityCombo->currentIndex();
    const QString port = trimBlanks(ui->PortField->text());
    const quint16 shown = port.isEmpty() ? standardPort(protocol(), security) : quint16(port.toUInt());
    return QStringLiteral("%1, %2, port %3")
        .arg(ui->ProtocolCombo->currentText(), ui->SecurityCombo->currentText())
        .arg(shown);
}
