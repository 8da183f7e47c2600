#include "subcommands.h"

#include "portmap.h"
#include "settingsfile.h"

namespace subcommands {

using commandcatalogue::Failure;

Outcome outcomeOf(Failure failure)
{
    switch (failure) {
    case Failure::BadDate:
        return Outcome::BadDate;
    case Failure::BadTime:
        return Outcome::BadTime;
    case Failure::BadCardNumber:
        return Outcome::BadCardNumber;
    case Failure::Port:
        break;
    }
    return Outcome::PortFailure;
}

QString failureText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::BadDate:
        return commandcatalogue::failureText(Failure::BadDate);
    case Outcome::BadTime:
        return commandcatalogue::failureText(Failure::BadTime);
    case Outcome::BadCardNumber:
        return commandcatalogue::failureText(Failure::BadCardNumber);
    default:
        return {};
    }
}

QString helpText(const QString &optionsHelp)
{
    QString text = optionsHelp;
    text += QStringLiteral("\nCommands, with the button of the window that sends the same bytes:\n");
    for (const Subcommand &s : all()) {
        QString usage = QLatin1String(s.name);
        if (*s.box)
            usage += QStringLiteral(" [%1]").arg(QLatin1String(s.box));
        QString what = *s.caption ? QStringLiteral("as \"%1\"").arg(commandcatalogue::caption(s.id).remove(u'&'))
                                  : QStringLiteral("prints what the terminal sends, for SECONDS or until interrupted");
        if (s.maxLength > 0)
            what += QStringLiteral(", up to %1 characters").arg(s.maxLength);
        text += QStringLiteral("  %1%2\n").arg(usage, -26).arg(what);
    }
    text +=
        QStringLiteral("\nDATE and TIME default to this computer's clock. Put -- before an argument that starts with -.\n"
                       "\nPorts are served at once; each port's result line, and what arrived before it, comes in the\n"
                       "order the ports were given (--port, then --ports-file, then --all).\n"
                       "\nFiles, the first found winning:\n");
    // The folders as the link searches them, so that the help names this user's own.
    const QString indent(25, u' ');
    QString folders;
    for (const QString &folder : settingsfile::configFolders())
        folders += (folders.isEmpty() ? QStringLiteral(" ") : QStringLiteral(",\n") + indent + QStringLiteral("then "))
                   + folder + u'/';
    text +=
        QStringLiteral("  %1 (baud rate)  beside the program, then%2\n").arg(QLatin1String(settingsfile::fileName), folders);
    text += QStringLiteral("  %1  the port map, [ports] COMn=TARGET (a device path, rfc2217://HOST:PORT\n"
                           "%2or socket://HOST:PORT), in%3\n")
                .arg(QLatin1String(portmap::fileName), indent, folders);
    text += QStringLiteral("\nExit status (the first failing port's in the order given, when several fail):\n"
                           "  0  done on every port\n"
                           "  1  \"PORT Hatası N\": a port could not be opened, refused a write, or went away\n"
                           "  2  wrong use of the command line\n");
    for (const Outcome badInput : {Outcome::BadDate, Outcome::BadTime, Outcome::BadCardNumber})
        text += QStringLiteral("  %1  \"%2\"\n").arg(int(badInput)).arg(failureText(badInput));
    text += QStringLiteral("  130  interrupted (SIGINT, SIGTERM, SIGHUP) before every port was served; each port\n"
                           "       not served says \"not served: interrupted\"\n"
                           "  141  the output was closed (a pipe whose reader ended); the ports are closed first\n"
                           "\nA port whose line does not take every byte in the time the line needs for them says\n"
                           "\"PORT Hatası 8018 (N of M bytes did not leave)\" and counts as failed. After a stop\n"
                           "signal, what is still queued gets two more seconds at most; a second signal drops it.\n");
    return text;
}

} // namespace subcommands
