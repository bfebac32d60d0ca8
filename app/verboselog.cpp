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

    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}
