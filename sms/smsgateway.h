#pragma once

#include <QString>
#include <QUrl>
#include <QtGlobal>

// Where the SMS gateway lives: the program's own gateway host on port 80,
// unless a trial points the run at another one (SmsClient::setGateway).

inline constexpr char SmsGatewayHost[] = "sms.postowl.example";
inline constexpr quint16 SmsGatewayPort = 80;

// The page at `path` on the given gateway.
QUrl smsGatewayUrl(const QString& host, quint16 port, const QString& path);
