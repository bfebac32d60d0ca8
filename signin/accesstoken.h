#pragma once

#include <QDateTime>
#include <QString>

// An access token held in memory only, with the moment it is due to be
// replaced: five minutes before it expires, or half way through its life when
// it lives less than ten minutes, so a short-lived token is not refreshed
// again on every use.
class AccessToken
{
public:
    static constexpr qint64 RefreshMarginSeconds = 5 * 60;
    static constexpr qint64 ShortLifeSeconds = 10 * 60;

    AccessToken() = default;
    AccessToken(const QString& value, const QDateTime& obtainedAt, qint64 lifetimeSeconds);

    bool isNull() const { return m_value.isEmpty(); }
    const QString& value() const { return m_value; }
    QDateTime expiresAt() const { return m_obtainedAt.addSecs(m_lifetimeSeconds); }
    QDateTime refreshAt() const;
    // Held and not yet due for its refresh.
    bool isFresh(const QDateTime& now) const { return !isNull() && now < refreshAt(); }

private:
    QString m_value;
    QDateTime m_obtainedAt;
    qint64 m_lifetimeSeconds = 0;
};
