#include "verboselog.h"

#include <QRegularExpression>

#include <cstdio>

VerboseLog::VerboseLog(bool enabled, QObject* parent) : QObject(parent)
{
    if (enabled && m_standardError.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered))
        m_device = &m_standardError;
}

VerboseLog::VerboseLog(QIODevice& device, QObject* parent) : QObject(parent), m_device(&device) {}

void VerboseLog::write(const QString& line)
{
    if (!m_device)
        return;
    m_device->write(cleaned(line).toUtf8() + '\n');
}

QString VerboseLog::cleaned(const QString& line)
{
    // Whatever stands after the PASS command is the password, however the line
    // that carries it is dressed ("PASS x", "> pass x", "C: PASS x").
    static const QRegularExpression password(QStringLiteral("\\bPASS\\s.*"),
                                             QRegularExpression::CaseInsensitiveOption);
    QString text = line;
    while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
        text.chop(1);
    text.replace(password, QStringLiteral("PASS ****"));

    // Whole code points, so that a character beyond the BMP is judged (and
    // kept) as one. Not printable are the C0 and C1 controls, DEL (a terminal
    // takes U+009B as CSI just like ESC [), format characters such as the
    // bidirectional overrides, and anything unassigned.
    QString shown;
    shown.reserve(text.size());
    for (const char32_t c : text.toUcs4()) {
        if (QChar::isPrint(c))
            shown += QString::fromUcs4(&c, 1);
        else if (c <= 0xff)
            shown += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
    }
    return shown;
}
