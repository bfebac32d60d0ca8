#pragma once

#include <QColor>

// Backgrounds of the status line.
namespace StatusColors {

inline QColor checking()
{
    return QColor(255, 255, 0);
}
inline QColor failure()
{
    return QColor(255, 0, 0);
} // also "No messages"
inline QColor mailWaiting()
{
    return QColor(0, 255, 0);
}

} // namespace StatusColors
