#include "accesstoken.h"

AccessToken::AccessToken(const QString& value, const QDateTime& obtainedAt, qint64 lifetimeSeconds)
    : m_value(value), m_obtainedAt(obtainedAt), m_lifetimeSeconds(qMax<qint64>(0, lifetimeSeconds))
{
}

QDateTime AccessToken::refreshAt() const
{
    if (m_lifetimeSeconds < ShortLifeSeconds)
        return m_obtainedAt.addSecs(m_lifetimeSeconds / 2);
    return m_obtainedAt.addSecs(m_lifetimeSeconds - RefreshMarginSeconds);
}
