#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

using FormFields = QList<QPair<QString, QString>>;

// application/x-www-form-urlencoded, each name and value through
// QUrl::toPercentEncoding (QUrlQuery would leave a "+" that the server reads
// as a blank), joined by hand. Also makes the query of the sign-in page.
QByteArray formBody(const FormFields& fields);
