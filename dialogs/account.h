#pragma once

#include "profilepasswords.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class Account;
}
class AccountHost;
class ServerOptions;
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
    // The protocol in the server's label, and the options' summary line.
    void showServerOptions();
    // "Sign in…" in the server options: the host runs the provider's sign-in.
    void signIn();
    // "Show sender and subject" for IMAP only, "also in the push" with it.
    void updateSenderBoxes();
    void updateTestButton();
    // The port field: 0 when empty; false when it holds no port.
    bool readPort(int* port) const;
    void centreOnScreen();
    // The three steps of a save: the fields judged (a message for the first
    // that fails), then taken into a new record, then saved.
    bool fieldsAreValid();
    ProfileSettings recordFromFields() const;
    bool save(const ProfileSettings& record);
    double intervalField() const;

    std::unique_ptr<Ui::Account> ui;
    GeneralStuff& m_run;
    SettingsStore& m_store;
    Desktop& m_desktop;
    AccountHost& m_host;
    ProfilePasswords m_passwords;
    ServerOptions* m_options; // a child window of this dialog
    bool m_waiting = false;   // for the keyring, in the middle of a save
};
