#pragma once

#include <QString>

// The file that starts one profile with the desktop:
// $XDG_CONFIG_HOME/autostart/postowl-<profile>.desktop. Whether it exists is
// the setting itself; the settings store keeps nothing for it.
class AutostartEntry
{
public:
    explicit AutostartEntry(const QString& profileName, const QString& folder = defaultFolder());

    // The desktop's autostart folder.
    static QString defaultFolder();
    // "postowl-<profile>.desktop" with every character of the name other than
    // ASCII letters, digits, "-" and "_" percent-encoded (UTF-8): no "/", no
    // leading ".", and no two profiles share a file.
    static QString fileName(const QString& profileName);
    // The program the entry starts: "postowl" where that name finds this very
    // program in PATH (an installed copy keeps working after updates), else
    // this program's absolute path.
    static QString program();
    // The Exec value as it stands in the file: quoted by the Desktop Entry
    // rules for Exec and then escaped like any string value.
    static QString execValue(const QString& program, const QString& profileName);

    QString filePath() const;
    bool exists() const;
    // Writes the entry (again). False when it could not be written, or when
    // the profile name holds a control character no desktop file can carry.
    bool create(const QString& program = AutostartEntry::program()) const;
    // True once the file is gone, also when there was none.
    bool remove() const;

private:
    QString m_profileName;
    QString m_folder;
};
