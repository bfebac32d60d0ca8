#include "leadingnumber.h"

#include <QString>

namespace {

bool isDigit(QStringView text, qsizetype at)
{
    return at < text.size() && text.at(at) >= QLatin1Char('0') && text.at(at) <= QLatin1Char('9');
}

qsizetype skipDigits(QStringView text, qsizetype at)
{
    while (isDigit(text, at))
        ++at;
    return at;
}

} // namespace

double leadingNumber(QStringView text)
{
    qsizetype end = 0;
    if (end < text.size() && (text.at(end) == QLatin1Char('+') || text.at(end) == QLatin1Char('-')))
        ++end;
    const qsizetype mantissaStart = end;
    end = skipDigits(text, end);
    bool digits = end > mantissaStart;
    if (end < text.size() && text.at(end) == QLatin1Char('.')) {
        const qsizetype decimals = skipDigits(text, end + 1);
        digits = digits || decimals > end + 1;
        end = decimals;
    }
    if (!digits)
        return 0;
    if (end < text.size() && (text.at(end) == QLatin1Char('e') || text.at(end) == QLatin1Char('E'))) {
        qsizetype exponent = end + 1;
        if (exponent < text.size() &&
            (text.at(exponent) == QLatin1Char('+') || text.at(exponent) == QLatin1Char('-')))
            ++exponent;
        if (isDigit(text, exponent))
            end = skipDigits(text, exponent);
    }
    bool ok = false;
    const double value = text.left(end).toString().toDouble(&ok);
    return ok ? value : 0;
}
