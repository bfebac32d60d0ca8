#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class ServerOptions;
}
class QLineEdit;
struct ProfileSettings;

// How the profile reaches its server: protocol, security, port and folder,
// gathered in a small window of their own behind the button beside the
// server field. Its controls belong to the Account dialog's edit buffer: they
// are filled with it, every change counts as an edit there, and only the
// Account dialog's Apply saves them.
class ServerOptions : public QDialog
{
    Q_OBJECT

public:
    explicit ServerOptions(QWidget* parent = nullptr);
    ~ServerOptions() override;

    void fill(const ProfileSettings& record);
    // Protocol, security, port (already checked by the caller) and folder.
    void readInto(ProfileSettings& record, quint16 port) const;
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

private:
    void followRules();

    std::unique_ptr<Ui::ServerOptions> ui;
    QString m_serverName;
};
