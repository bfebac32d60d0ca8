#pragma once

#include <QString>
#include <QUrl>

// The address a push URL setting names, or an invalid QUrl when it names none
// we send to: only http and https addresses with a host count, blanks around
// them ignored.
QUrl acceptedPushUrl(const QString& text);
