#pragma once

#include <QStringView>

// The number a text starts with: optional sign, digits, optional "." and
// decimals, optional exponent. Reading stops at the first character that
// cannot continue the number; a text that starts with none gives 0.
double leadingNumber(QStringView text);
