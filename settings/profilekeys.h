#pragma once

#include "profilesettings.h"

#include <QString>

#include <variant>
#include <vector>

// One key of a profile's section in the store: its name, its default, how its
// stored text is read and written, and whether the Account dialog's Apply
// writes it. The table of all of them (profileKeys()) is the only place a key
// is named; a new key is one new row.
struct ProfileKey
{
    enum class Kind {
        Text,       // stored as it is
        Password,   // stored scrambled; a stored text of blanks only is taken as it is
        Number,     // a whole number within [minimum, maximum]; anything else keeps the default
        Flag,       // 0 or 1; anything else keeps the default
        WindowEdge, // the window's left or top edge in twips, not part of the record
    };
    using Field = std::variant<std::monostate, QString ProfileSettings::*, qint16 ProfileSettings::*,
                               quint8 ProfileSettings::*, quint16 ProfileSettings::*>;

    QString name;
    Kind kind;
    QString defaultText;
    bool savedByApply;
    Field field;
    int minimum = 0;
    int maximum = 1;
    // What a stored text that cannot be read as this key's kind counts as;
    // empty for the default. A key that a security decision rests on fails
    // closed here rather than open.
    QString unreadableText = QString();

    // The stored text of this key's field in the record.
    QString storedText(const ProfileSettings& record) const;
    // Sets this key's field from a stored text; false (and the field left as
    // it is) when the text cannot be read as this key's kind.
    bool readInto(ProfileSettings& record, const QString& text) const;
    // A stored number of this key: a whole number within [minimum, maximum]
    // (fractions rounded half to even); false when the text is none.
    bool readWholeNumber(const QString& text, int* result) const;
};

// Every key, in the order Apply writes them; the window position (WindowEdge) last.
const std::vector<ProfileKey>& profileKeys();

// The row of a record field, e.g. profileKey(&ProfileSettings::ServerName).
template <typename T> const ProfileKey& profileKey(T ProfileSettings::*member)
{
    for (const ProfileKey& key : profileKeys()) {
        if (key.field == ProfileKey::Field(member))
            return key;
    }
    Q_UNREACHABLE();
}
