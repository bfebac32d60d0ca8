#pragma once

#include <QString>
#include <QUrl>
#include <QtGlobal>

// Where the SMS gateway lives. The program talks to its own gateway host on
// port 80; for trials the environment variable POSTOWL_SMS_GATEWAY
// ("host" or "host:port") puts another one in its place.

inline constexpr char SmsGatewayHost[] = "sms.postowl.example";
inline constexpr quint16 SmsGatewayPort = 80;

// The page at `path` on the gateway in effect (the override when it is set and
// well formed, else the program's own).
QUrl smsGatewayUrl(const QString& path);
// The page at `path` on the given gateway.
QUrl smsGatewayUrl(const QString& host, quint16 port, const QString& path);

// The gateway's host as the user should see it, e.g. in the Account dialog.
QString smsGatewayDisplayName();
