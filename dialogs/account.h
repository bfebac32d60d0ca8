#pragma once

#include "passwordkeyring.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class Account;
}
class AccountHost;
class Desktop;
class SettingsStore;
struct GeneralStuff;
struct ProfileSettings;

// "Define Mail Account": shows and edits every setting of the running profile.
// The controls are the edit buffer; the record and the store change only on a
// successful Apply or Test. Whether there are unsaved edits is nothing but the
// enabled state of Apply.
//
// The dialog fills itself when it is constructed, so the caller makes a fresh
// one for each opening and shows it modally.
class Account : public QDialog
{
    Q_OBJECT

public:
    // smsGatewayHost names the SMS gateway in the SMS fields' label and note.
    Account(GeneralStuff& run, SettingsStore& store, Desktop& desktop, AccountHost& host,
            const QString& smsGatewayHost, QWidget* parent = nullptr);
    ~Account() override;

    void Form_Load();

    // Validates the fields, then copies them into the record and the store and
    // updates the main window. False when a validation message was shown (and
    // nothing changed) or when the store could not be written.
    bool SaveAccountSettings();

    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

    void Check3_Click();
    void Text5_Change();
    void Text9_Change();
    void KeyringCheck_Click();

    // Escape and the close box end the dialog exactly like Close.
    void reject() override;

private:
    void enableApply();
    void updateTestButton();
    // The port field: 0 when empty; false when it holds no port.
    bool readPort(int* port) const;
    void centreOnScreen();
    void tickKeyringWhenItAnswers();
    bool writeKeyring(const ProfileSettings& record);
    void clearKeyring();
    PasswordKeyring::Result waitForKeyring(const std::function<PasswordKeyring::Result()>& job);

    std::unique_ptr<Ui::Account> ui;
    GeneralStuff& m_run;
    SettingsStore& m_store;
    Desktop& m_desktop;
    AccountHost& m_host;
    PasswordKeyring m_keyring{this}; // a child, so a test can find it and shorten its deadline
    bool m_waiting = false;          // for the keyring, in the middle of a save
};
