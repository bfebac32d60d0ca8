#pragma once

#include "checkoutcome.h"
#include "mailconnection.h"
#include "pop3session.h"

#include <QObject>

// One POP3 conversation over the connection Winsock1: greeting, USER, PASS,
// STAT. It never sends QUIT; it closes the connection itself once the count
// is known. The connection speaks plain TCP unless the profile asks for TLS:
// STLS after the greeting, or TLS from the first byte.
class Pop3Conversation : public QObject
{
    Q_OBJECT

public:
    explicit Pop3Conversation(QObject* parent = nullptr);

    // Where and how to connect: remote, security, time-outs.
    MailConnection& connection() { return Winsock1; }
    void connectToServer(const Pop3Session::Credentials& credentials);
    void close();

    Pop3Session::State Pop3State() const { return m_session.Pop3State(); }

signals:
    // The conversation is over and its connection closed (or closing).
    void ended(const CheckOutcome& outcome);
    // Each command sent (the password masked), each reply line received, and
    // what became of TLS, for a verbose log.
    void dialogue(const QString& line);

private:
    void Winsock1_Connect();
    void Winsock1_DataArrival(const QByteArray& data);
    void Winsock1_Error(MailConnection::Failure failure, const QString& description);
    void act(const Pop3Session::Step& step);
    void send(const QByteArray& commands);
    void end(CheckOutcome::End how, const QString& description = QString(), int count = 0);

    Pop3Session m_session;
    Pop3Session::Credentials m_credentials;
    MailConnection Winsock1;
    // How the greeting came; STLS upgrades it once the handshake is done.
    QString m_transport;
};
