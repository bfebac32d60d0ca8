#include "commandline.h"

#include "blanks.h"
#include "programinfo.h"

namespace {

bool isOnly(const QStringList& arguments, const char* longForm, const char* shortForm)
{
    return arguments.size() == 1 &&
           (arguments.first() == QLatin1String(longForm) || arguments.first() == QLatin1String(shortForm));
}

} // namespace

CommandLine CommandLine::parse(const QStringList& arguments)
{
    CommandLine commandLine;
    if (isOnly(arguments, "--help", "-h")) {
        commandLine.action = Action::Help;
        return commandLine;
    }
    if (isOnly(arguments, "--version", "-v")) {
        commandLine.action = Action::Version;
        return commandLine;
    }
    QStringList rest = arguments;
    if (!rest.isEmpty() && rest.first() == QLatin1String("--verbose")) {
        commandLine.verbose = true;
        rest.removeFirst();
    }
    commandLine.profileName = profileNameFromArguments(rest);
    return commandLine;
}

QString CommandLine::profileNameFromArguments(const QStringList& arguments)
{
    const QString name = trimBlanks(arguments.join(QLatin1Char(' ')));
    return name.isEmpty() ? QStringLiteral("DEFAULT") : name;
}

QStringList CommandLine::rawArguments(int argc, char* argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}

QString CommandLine::answer() const
{
    switch (action) {
    case Action::Help:
        return usage();
    case Action::Version:
        return QStringLiteral("postowl ") + ProgramInfo::version() + QLatin1Char('\n');
    case Action::Run:
        break;
    }
    return QString();
}

QString CommandLine::usage()
{
    return QStringLiteral("Usage: postowl [--verbose] [profile name]\n"
                          "       postowl --help | -h\n"
                          "       postowl --version | -v\n"
                          "\n"
                          "Watches one POP3 mailbox and tells when mail is waiting: every few minutes it\n"
                          "logs in, asks how many messages wait and shows the count in its window and\n"
                          "tray icon. It never reads or deletes mail.\n"
                          "\n"
                          "The rest of the command line is the profile's name: \"postowl Home Office\"\n"
                          "watches the profile \"Home Office\"; without a name the profile DEFAULT is used.\n"
                          "Run the program once per mailbox. Starting a profile that already runs brings\n"
                          "its window up instead.\n"
                          "\n"
                          "  --verbose      write each check's dialogue with the server to standard error\n"
                          "                 (the password shows as ****)\n"
                          "  -h, --help     print this text and exit\n"
                          "  -v, --version  print the version and exit\n"
                          "\n"
                          "Settings: $XDG_CONFIG_HOME/POSTOWL/POSTOWL.conf (usually\n"
                          "~/.config/POSTOWL/POSTOWL.conf), one section per profile, edited in the\n"
                          "Account dialog.\n"
                          "\n"
                          "For trials against servers of your own:\n"
                          "  POSTOWL_POP3_PORT=<port>             connect to this port instead of the\n"
                          "                                       profile's (110, or 995 for SSL/TLS)\n"
                          "  POSTOWL_IMAP_PORT=<port>             the same for an IMAP profile (143,\n"
                          "                                       or 993 for SSL/TLS)\n"
                          "  POSTOWL_SMS_GATEWAY=<host>[:<port>]  send SMS through this host instead of\n"
                          "                                       the gateway\n");
}
