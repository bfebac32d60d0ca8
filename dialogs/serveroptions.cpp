#include "serveroptions.h"

#include "blanks.h"
#include "mailports.h"
#include "oauthconfig.h"
#include "oauthproviders.h"
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

    // "Password" first, then the providers whose addresses are known.
    ui->SignInCombo->addItem(QStringLiteral("Password"));
    for (const OAuthProvider& provider : OAuthProviders::presets())
        ui->SignInCombo->addItem(provider.name);
    connect(ui->SignInCombo, &QComboBox::activated, this, &ServerOptions::providerChosen);
    connect(ui->SignInButton, &QPushButton::clicked, this, &ServerOptions::signInRequested);

    for (QComboBox* combo : {ui->ProtocolCombo, ui->SecurityCombo, ui->SignInCombo})
        connect(combo, &QComboBox::currentIndexChanged, this, [this] {
            followRules();
            emit edited();
        });
    for (QLineEdit* field : {ui->PortField, ui->FolderField, ui->ClientIdField, ui->ClientSecretField,
                             ui->AuthorizeUrlField, ui->TokenUrlField, ui->ScopeField})
        connect(field, &QLineEdit::textChanged, this, &ServerOptions::edited);
    connect(ui->CloseButton, &QPushButton::clicked, this, &QDialog::accept);
    followRules();
}

ServerOptions::~ServerOptions() = default;

void ServerOptions::fill(const ProfileSettings& record, const QString& clientSecret)
{
    ui->ClientIdField->setText(record.OAuthClientId);
    ui->ClientSecretField->setText(clientSecret);
    ui->AuthorizeUrlField->setText(record.OAuthAuthorizeUrl);
    ui->TokenUrlField->setText(record.OAuthTokenUrl);
    ui->ScopeField->setText(record.OAuthScope);
    const OAuthProvider provider = OAuthProviders::matching(record.OAuthAuthorizeUrl, record.OAuthTokenUrl);
    ui->SignInCombo->setCurrentIndex(record.Auth == 1 ? ui->SignInCombo->findText(provider.name) : 0);
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
    record.Auth = quint8(auth());
    record.OAuthClientId = ui->ClientIdField->text().trimmed();
    record.OAuthAuthorizeUrl = ui->AuthorizeUrlField->text().trimmed();
    record.OAuthTokenUrl = ui->TokenUrlField->text().trimmed();
    record.OAuthScope = ui->ScopeField->text().trimmed();
}

QString ServerOptions::clientSecret() const
{
    return ui->ClientSecretField->text();
}

int ServerOptions::auth() const
{
    return ui->SignInCombo->currentIndex() > 0 ? 1 : 0;
}

int ServerOptions::security() const
{
    return ui->SecurityCombo->currentIndex();
}

OAuthConfig ServerOptions::oauthConfig() const
{
    OAuthConfig config;
    config.clientId = ui->ClientIdField->text().trimmed();
    config.clientSecret = clientSecret();
    config.authorizeUrl = QUrl(ui->AuthorizeUrlField->text().trimmed());
    config.tokenUrl = QUrl(ui->TokenUrlField->text().trimmed());
    config.scope = ui->ScopeField->text().trimmed();
    return config;
}

void ServerOptions::setSignInStatus(const QString& text)
{
    ui->SignInStatus->setText(text);
}

void ServerOptions::providerChosen(int index)
{
    // Microsoft and Google fill in their addresses and scope; "Other
    // provider" leaves whatever stands there for the user to edit.
    if (index <= 0)
        return;
    const OAuthProvider provider = OAuthProviders::presets().value(index - 1);
    if (provider.editable)
        return;
    ui->AuthorizeUrlField->setText(provider.authorizeUrl);
    ui->TokenUrlField->setText(provider.tokenUrl);
    ui->ScopeField->setText(provider.scope);
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
    const bool oauth = auth() == 1;
    const bool other = oauth && OAuthProviders::presets().value(ui->SignInCombo->currentIndex() - 1).editable;
    for (QWidget* widget :
         {static_cast<QWidget*>(ui->ClientIdField), static_cast<QWidget*>(ui->ClientSecretField),
          static_cast<QWidget*>(ui->SignInButton), static_cast<QWidget*>(ui->ClientIdLabel),
          static_cast<QWidget*>(ui->ClientSecretLabel)})
        widget->setEnabled(oauth);
    for (QLineEdit* field : {ui->AuthorizeUrlField, ui->TokenUrlField, ui->ScopeField})
        field->setReadOnly(!other);
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
