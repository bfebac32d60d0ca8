#pragma once

#include <QString>

// Turns a plain password into its stored form and back again: the same call
// does both directions.
QString ScramblePassword(const QString& text);

// The longest password the stored form holds: one key character a position.
constexpr int MaxScrambledLength = 25;
