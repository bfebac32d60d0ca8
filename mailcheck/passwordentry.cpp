#include "passwordentry.h"

#include "hashmask.h"
#include "passwordkeyring.h"
#include "profilesettings.h"
#include "ui_passwordentry.h"

PasswordEntry::PasswordEntry(ProfileSettings& settings, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::PasswordEntry>()), m_settings(settings)
{
    ui->setupUi(this);
    setFixedSize(size());
    showTypedCharactersAsHash(ui->Text1);
    // With several profiles running, the prompt says whose password it wants.
    const QString asked = QStringLiteral("Password for %1 at %2").arg(settings.UserName, settings.ServerName);
    ui->Text1->setPlaceholderText(asked);
    // The box is narrow; the whole question is there when the pointer rests on it.
    ui->Text1->setToolTip(asked);
    // The desktop keyring takes longer passwords than the settings file.
    if (settings.PasswordStore == 1)
        ui->Text1->setMaxLength(PasswordKeyring::MaxPasswordLength);
    connect(ui->Command1, &QPushButton::clicked, this, &PasswordEntry::PasswordEntry_Command1_Click);
}

PasswordEntry::~PasswordEntry() = default;

void PasswordEntry::PasswordEntry_Command1_Click()
{
    // Taken exactly as typed: blanks count, an empty entry is allowed.
    m_settings.Password = ui->Text1->text();
    accept();
}
