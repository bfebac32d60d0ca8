#pragma once

#include <QFile>
#include <QObject>
#include <QString>

class QIODevice;

// Where "--verbose" sends each check's dialogue with the server: one line per
// command and reply. Without --verbose it writes nothing at all.
class VerboseLog : public QObject
{
    Q_OBJECT

public:
    // On: writes to standard error. Off: drops every line.
    explicit VerboseLog(bool enabled, QObject* parent = nullptr);
    // Writes to a device of the caller's.
    explicit VerboseLog(QIODevice& device, QObject* parent = nullptr);

    // One line of the dialogue. A password that reaches this far is still
    // never written, and characters that are not printable (a server's
    // terminal escapes, C1 controls included) are written as \xNN or \u{NNNN}
    // rather than sent to the terminal.
    void write(const QString& line);

    static QString cleaned(const QString& line);

private:
    QFile m_standardError;
    QIODevice* m_device = nullptr;
};
