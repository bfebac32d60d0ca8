#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ServerOptions;
}
class QLineEdit;
struct OAuthConfig;
struct ProfileSettings;

// How the profile reaches its server: protocol, security, port, folder and
// how it signs in, gathered in a small window of their own behind the button
// beside the server field. Its controls belong to the Account dialog's edit buffer: they
// are filled with it, every change counts as an edit there, and only the
// Account dialog's Apply saves them.
class ServerOptions : public QDialog
{
    Q_OBJECT

public:
    explicit ServerOptions(QWidget* parent = nullptr);
    ~ServerOptions() override;

    // The client secret lives in the keyring, beside the record.
    void fill(const ProfileSettings& record, const QString& clientSecret);
    // Protocol, security, port (already checked by the caller), folder and sign-in.
    void readInto(ProfileSettings& record, quint16 port) const;
    QString clientSecret() const;
    // 0 the password; 1 the provider's sign-in.
    int auth() const;
    int security() const;
    // The sign-in as the fields say now, for "Sign in…" before Apply.
    OAuthConfig oauthConfig() const;
    // "Signed in", or why not.
    void setSignInStatus(const QString& text);
    QLineEdit* portField() const;
    int protocol() const;
    // The server the options are for: the warning about a plain connection
    // is only for a server that is not on this machine.
    void setServerName(const QString& host);
    // One line for the Account dialog, e.g. "IMAP, SSL/TLS, port 993".
    QString summary() const;

    // "localhost", 127.0.0.1, ::1 and the like.
    static bool isOnThisMachine(const QString& host);

signals:
    void edited();
    // "Sign in…": the Account dialog runs the sign-in through its host.
    void signInRequested();

private:
    void followRules();
    void providerChosen(int index);

    std::unique_ptr<Ui::ServerOptions> ui;
    QString m_serverName;
};
