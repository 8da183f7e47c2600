#include "clicommandline.h"

#include "monitorprinter.h"
#include "pacedwait.h"
#include "portdrain.h"
#include "portlink.h"
#include "portmap.h"
#include "settingsfile.h"
#include "stopsignals.h"
#include "subcommands.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <memory>

using namespace subcommands;

namespace {

constexpr int highestPortNumber = 255;

struct Options
{
    const Subcommand *subcommand = nullptr;
    QString argument;
    QStringList ports;
    QString baudRateText;
    double listenSeconds = 0;
    bool untilStopped = false;
    bool hex = false;
    bool timestamps = false;
};

// What the link opens for a --port: COMn as the window resolves it, or a device path or a
// device server's URL as given; nullopt for anything else.
struct PortTarget
{
    int number = 0; // COMn, or 0 for a route
    QString route;
};

std::optional<PortTarget> portTarget(const QString &port)
{
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]{1,3})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (const auto match = comName.match(port); match.hasMatch()) {
        const int number = match.captured(1).toInt();
        if (number < 1 || number > highestPortNumber)
            return std::nullopt;
        return PortTarget{number, {}};
    }
    if (portmap::isNetworkUrl(port))
        return PortTarget{0, port};
    if (!port.contains(u'/'))
        return std::nullopt;
    return PortTarget{0, QFileInfo(port).absoluteFilePath()};
}

QString helpText(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    text += QStringLiteral("\nCommands, with the button of the window that sends the same bytes:\n");
    for (const Subcommand &s : all()) {
        QString usage = QLatin1String(s.name);
        if (s.argument != Argument::None)
            usage += QStringLiteral(" [%1]").arg(QLatin1String(s.argumentName));
        QString what = *s.button ? QStringLiteral("as \"%1\"").arg(QString::fromUtf8(s.button))
                                 : QStringLiteral("prints what the terminal sends, for SECONDS or until interrupted");
        if (s.maxLength > 0)
            what += QStringLiteral(", up to %1 characters").arg(s.maxLength);
        text += QStringLiteral("  %1%2\n").arg(usage, -26).arg(what);
    }
    text += QStringLiteral(
        "\nDATE and TIME default to this computer's clock. Put -- before an argument that starts with -.\n"
        "\nExit status (the first failing port's, when several fail):\n"
        "  0  done on every port\n"
        "  1  \"PORT Hatası N\": a port could not be opened, refused a write, or went away\n"
        "  2  wrong use of the command line\n"
        "  3  \"Hatalı Tarih Bilgisi\"\n"
        "  4  \"Hatalı Saat Bilgisi\"\n"
        "  5  \"Hatalı Kart Numarası\"\n");
    return text;
}

bool seconds(const QString &text, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && value >= 0;
}

// Fills `options` or returns the reason the command line cannot run.
QString parse(QCommandLineParser &parser, Options &options, const QString &programDir)
{
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return QStringLiteral("no command given");
    options.subcommand = find(positional.first());
    if (!options.subcommand)
        return QStringLiteral("unknown command: %1").arg(positional.first());
    const Subcommand &s = *options.subcommand;
    if (positional.size() > (s.argument == Argument::None ? 1 : 2))
        return QStringLiteral("too many arguments for %1 (quote a text with blanks)").arg(QLatin1String(s.name));
    options.argument = positional.value(1);
    if (s.maxLength > 0 && options.argument.size() > s.maxLength)
        return QStringLiteral("%1 takes at most %2 characters").arg(QLatin1String(s.name)).arg(s.maxLength);
    options.ports = parser.values(QStringLiteral("port"));
    if (options.ports.isEmpty())
        return QStringLiteral("no --port given");
    options.baudRateText = parser.isSet(QStringLiteral("baud"))
                               ? parser.value(QStringLiteral("baud"))
                               : settingsfile::readBaudRateText(settingsfile::locate(programDir));
    const bool monitor = onlyListens(s);
    const QString listen = monitor && positional.size() > 1 ? positional[1] : parser.value(QStringLiteral("wait"));
    if (!listen.isEmpty() && !seconds(listen, options.listenSeconds))
        return QStringLiteral("not a number of seconds: %1").arg(listen);
    options.untilStopped = monitor && listen.isEmpty();
    options.hex = parser.isSet(QStringLiteral("hex"));
    options.timestamps = parser.isSet(QStringLiteral("timestamps"));
    return {};
}

class PortRun
{
public:
    PortRun(const Options &options, const CommandLineContext &context) : m_options(options), m_context(context) {}

    Outcome run(const QString &port)
    {
        const Subcommand &s = *m_options.subcommand;
        const std::optional<Plan> plan = s.plan(Input{m_options.argument, m_context.clock(), QLocale()});
        if (!plan)
            return report(port, s.failure);
        const std::optional<PortTarget> target = portTarget(port);
        if (!target)
            return report(port, Outcome::PortFailure, commerror::PortNotFound);
        PortLink link(m_context.programDir);
        MonitorPrinter printer(m_options.hex, m_options.timestamps);
        QObject::connect(&link, &PortLink::received, [&](const QByteArray &bytes) {
            *m_context.out << printer.take(bytes, m_context.clock());
            m_context.out->flush();
        });
        try {
            if (target->number > 0)
                link.open(m_options.baudRateText, quint8(target->number));
            else
                link.open(m_options.baudRateText, target->route);
        } catch (const CommError &failure) {
            return report(port, Outcome::PortFailure, failure.number());
        }
        if (const int failure = waitUntilConnected(link.MSComm1()))
            return report(port, Outcome::PortFailure, failure);
        Outcome outcome = Outcome::Done;
        int number = 0;
        try {
            link.sendAll(plan->writes);
            if (plan->pause) {
                PacedWait(1, m_context.clock);
                link.sendAll(plan->afterPause);
            }
            if (!listen(link)) {
                outcome = Outcome::PortFailure;
                number = commerror::PortNotOpen;
            }
        } catch (const CommError &failure) {
            outcome = refusedWrite(s);
            number = failure.number();
        }
        link.close();
        // "OK" means on the line: what is still queued drains before the next port.
        PortDrain::waitForAll();
        *m_context.out << printer.finish();
        return report(port, outcome, number);
    }

private:
    // A device server's answer; 0 once connected, else the failure's number.
    int waitUntilConnected(CommPort &port)
    {
        if (!port.connecting())
            return 0;
        int failure = 0;
        QEventLoop loop;
        QObject::connect(&port, &CommPort::opened, &loop, &QEventLoop::quit);
        QObject::connect(&port, &CommPort::openFailed, &loop, [&](int number) {
            failure = number;
            loop.quit();
        });
        loop.exec();
        return failure;
    }

    // Prints what arrives for the time asked; false when the device went away meanwhile.
    bool listen(PortLink &link)
    {
        StopSignals *stop = m_context.stop;
        if ((!m_options.untilStopped && m_options.listenSeconds <= 0) || (stop && stop->stopped()))
            return true;
        bool lost = false;
        QEventLoop loop;
        QObject::connect(&link.MSComm1(), &CommPort::deviceLost, &loop, [&] {
            lost = true;
            loop.quit();
        });
        if (stop)
            QObject::connect(stop, &StopSignals::stopRequested, &loop, &QEventLoop::quit);
        if (!m_options.untilStopped)
            QTimer::singleShot(qint64(m_options.listenSeconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        return !lost;
    }

    Outcome report(const QString &port, Outcome outcome, int number = 0)
    {
        m_context.out->flush();
        if (outcome == Outcome::Done) {
            *m_context.out << port << ": OK\n";
            m_context.out->flush();
        } else {
            const QString text = outcome == Outcome::PortFailure ? QStringLiteral("PORT Hatası %1").arg(number)
                                                                  : failureText(outcome);
            *m_context.err << port << ": " << text << '\n';
            m_context.err->flush();
        }
        return outcome;
    }

    const Options &m_options;
    const CommandLineContext &m_context;
};

} // namespace

int runCommandLine(const QStringList &arguments, const CommandLineContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends the terminal commands of Terminal Kontrol, byte for byte as the window does."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    parser.addOptions({
        help,
        version,
        {{QStringLiteral("p"), QStringLiteral("port")},
         QStringLiteral("COMn (resolved as the window does) or a device path; give it again for more ports, "
                        "which are served in turn."),
         QStringLiteral("port")},
        {{QStringLiteral("b"), QStringLiteral("baud")},
         QStringLiteral("Baud rate text (default: Vxl00.Def beside the program, else 4800)."), QStringLiteral("rate")},
        {{QStringLiteral("w"), QStringLiteral("wait")}, QStringLiteral("Prints what arrives for SECONDS after the command."),
         QStringLiteral("seconds")},
        {QStringLiteral("hex"), QStringLiteral("Prints what arrives as hex bytes.")},
        {{QStringLiteral("t"), QStringLiteral("timestamps")}, QStringLiteral("Puts the time of arrival before each line.")},
    });
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands below."),
                                 QStringLiteral("command [argument]"));

    const auto usage = [&](const QString &reason) {
        *context.err << reason << "\n" << "Try --help.\n";
        context.err->flush();
        return int(Outcome::Usage);
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        *context.out << helpText(parser);
        return int(Outcome::Done);
    }
    if (parser.isSet(version)) {
        *context.out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        return int(Outcome::Done);
    }
    Options options;
    if (const QString reason = parse(parser, options, context.programDir); !reason.isEmpty())
        return usage(reason);

    PortRun run(options, context);
    Outcome first = Outcome::Done;
    for (const QString &port : std::as_const(options.ports)) {
        if (context.stop && context.stop->stopped())
            break;
        const Outcome outcome = run.run(port);
        if (first == Outcome::Done)
            first = outcome;
    }
    return int(first);
}
