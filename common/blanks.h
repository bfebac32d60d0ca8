#pragma once

#include <QString>

// Removes leading and trailing blanks (space characters only, not tabs or line
// ends), the way every "is it empty?" test of the program means it.
inline QString trimBlanks(const QString& text)
{
    int first = 0;
    int last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}
