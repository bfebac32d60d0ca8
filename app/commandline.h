#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of this run. "--help" or "-h" alone, and
// "--version" or "-v" alone, are answered on standard output; a leading
// "--verbose" turns on the check log; everything else is the profile's name.
struct CommandLine
{
    enum class Action { Run, Help, Version };

    Action action = Action::Run;
    bool verbose = false;
    // DEFAULT when the command line names none.
    QString profileName;

    static CommandLine parse(const QStringList& arguments);
    // "postowl Home Office" watches the profile "Home Office"; no argument means DEFAULT.
    static QString profileNameFromArguments(const QStringList& arguments);
    // The arguments after the program's name, exactly as they were given:
    // read before QApplication takes its own options out of argv.
    static QStringList rawArguments(int argc, char* argv[]);

    // The text that --help or --version prints; empty for a run.
    QString answer() const;
    static QString usage();
};
