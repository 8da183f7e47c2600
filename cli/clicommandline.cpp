#include "clicommandline.h"

#include "codepage.h"
#include "comname.h"
#include "monitorprinter.h"
#include "orderedprinter.h"
#include "pacedwait.h"
#include "portdrain.h"
#include "portlink.h"
#include "portmap.h"
#include "settingsfile.h"
#include "stopsignals.h"
#include "subcommands.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

using namespace subcommands;

namespace {

constexpr int defaultJobs = 16;
constexpr int mostJobs = 256;
constexpr auto defaultTimeout = std::chrono::seconds(5);
// What a stop signal leaves a port's queued bytes.
constexpr auto stopGrace = std::chrono::milliseconds(2000);
constexpr double longestTimeoutSeconds = 3600;
// What a JSON result keeps of what arrived; the rest is only counted.
constexpr qsizetype mostJsonReceived = 1 << 20;

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
    bool json = false;
    int jobs = defaultJobs;
    std::chrono::milliseconds timeout = defaultTimeout;
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
    if (const int number = comNumber(port))
        return PortTarget{number, {}};
    if (portmap::isNetworkUrl(port))
        return PortTarget{0, port};
    if (!port.contains(u'/'))
        return std::nullopt;
    return PortTarget{0, QFileInfo(port).absoluteFilePath()};
}

// Where a target leads, so that two names of one port are seen as one: COMn as resolved, a
// path without its links, a URL in any case.
QString reaches(const QString &port, const QString &programDir)
{
    const std::optional<PortTarget> target = portTarget(port);
    if (!target)
        return port;
    const QString route = target->number > 0 ? resolveCom(target->number, programDir).device : target->route;
    if (portmap::isNetworkUrl(route))
        return route.toLower();
    const QString canonical = QFileInfo(route).canonicalFilePath();
    return canonical.isEmpty() ? route : canonical;
}

// Why the targets may not run together: a port given twice would be opened against itself
// (8005) or sent the command twice, and a script may not have meant either.
QString repeatedPort(const QStringList &ports, const QString &programDir)
{
    QHash<QString, QString> seen;
    for (const QString &port : ports) {
        const QString way = reaches(port, programDir);
        if (const auto first = seen.constFind(way); first != seen.cend())
            return QStringLiteral("%1 and %2 are the same port (%3): give it once").arg(*first, port, way);
        seen.insert(way, port);
    }
    return {};
}

// What a timer can wait: Qt's take whole milliseconds in an int.
constexpr int longestWaitSeconds = std::numeric_limits<int>::max() / 1000;

bool seconds(const QString &text, double &value)
{
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && value >= 0 && value <= longestWaitSeconds;
}

// A ports file's targets: one a line, blanks around it trimmed; empty lines and # comments skipped.
QStringList portsFileTargets(const QString &text)
{
    QStringList targets;
    for (const QString &line : text.split(u'\n')) {
        const QString target = line.trimmed();
        if (!target.isEmpty() && !target.startsWith(u'#'))
            targets << target;
    }
    return targets;
}

// The targets of --port, then --ports-file, then --all; or the reason there are none.
QString collectTargets(const QCommandLineParser &parser, QStringList &targets)
{
    targets = parser.values(QStringLiteral("port"));
    for (const QString &path : parser.values(QStringLiteral("ports-file"))) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read the ports file %1: %2").arg(path, file.errorString());
        targets += portsFileTargets(QString::fromUtf8(file.readAll()));
    }
    if (parser.isSet(QStringLiteral("all"))) {
        const QStringList folders = settingsfile::configFolders();
        const QList<int> mapped = portmap::all(folders).keys();
        if (mapped.isEmpty())
            return QStringLiteral("--all: no COMn under [ports] in %1 in %2")
                .arg(QLatin1String(portmap::fileName), folders.join(QStringLiteral(", ")));
        // As COMn, so that a link beside the program wins as it does for the window.
        for (const int number : mapped)
            targets << QStringLiteral("COM%1").arg(number);
    }
    if (targets.isEmpty())
        return QStringLiteral("no port given (--port, --ports-file or --all)");
    return {};
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
    if (positional.size() > (*s.box ? 2 : 1))
        return QStringLiteral("too many arguments for %1 (quote a text with blanks)").arg(QLatin1String(s.name));
    options.argument = positional.value(1);
    if (s.maxLength > 0 && options.argument.size() > s.maxLength)
        return QStringLiteral("%1 takes at most %2 characters").arg(QLatin1String(s.name)).arg(s.maxLength);
    if (const QString reason = collectTargets(parser, options.ports); !reason.isEmpty())
        return reason;
    if (const QString reason = repeatedPort(options.ports, programDir); !reason.isEmpty())
        return reason;
    options.baudRateText = parser.isSet(QStringLiteral("baud"))
                               ? parser.value(QStringLiteral("baud"))
                               : settingsfile::readBaudRateText(settingsfile::locate(programDir));
    const bool monitor = onlyListens(s);
    const QString listen = monitor && positional.size() > 1 ? positional[1] : parser.value(QStringLiteral("wait"));
    if (!listen.isEmpty() && !seconds(listen, options.listenSeconds))
        return QStringLiteral("not a number of seconds from 0 to %1: %2").arg(longestWaitSeconds).arg(listen);
    options.untilStopped = monitor && listen.isEmpty();
    options.hex = parser.isSet(QStringLiteral("hex"));
    options.timestamps = parser.isSet(QStringLiteral("timestamps"));
    options.json = parser.isSet(QStringLiteral("json"));
    if (parser.isSet(QStringLiteral("jobs"))) {
        bool ok = false;
        options.jobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
        if (!ok || options.jobs < 1 || options.jobs > mostJobs)
            return QStringLiteral("--jobs takes a whole number from 1 to %1").arg(mostJobs);
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        const double timeout = parser.value(QStringLiteral("timeout")).toDouble(&ok);
        if (!ok || !(timeout > 0) || timeout > longestTimeoutSeconds)
            return QStringLiteral("--timeout takes a number of seconds above 0, at most %1").arg(longestTimeoutSeconds);
        options.timeout = std::chrono::milliseconds(qint64(std::ceil(timeout * 1000)));
    }
    return {};
}

// How one port's run ended.
struct PortResult
{
    Outcome outcome = Outcome::Done;
    int number = 0;      // the failure's, after "PORT Hatası "
    QByteArray received; // kept for --json only
    qint64 unsent = 0;   // of `written`, when the line took no more in its time
    qint64 written = 0;
    qint64 dropped = 0; // arrived past mostJsonReceived

    static PortResult failed(Outcome outcome, int number = 0) { return {outcome, number, {}, 0, 0, 0}; }
};

// What a result reads as: "OK", "PORT Hatası N" or the window's words.
QString resultText(const PortResult &result)
{
    if (result.outcome == Outcome::Done)
        return QStringLiteral("OK");
    if (result.outcome == Outcome::Interrupted)
        return QStringLiteral("not served: interrupted");
    if (result.unsent > 0)
        return commandcatalogue::portFailureText(result.number)
               + QStringLiteral(" (%1 of %2 bytes did not leave)").arg(result.unsent).arg(result.written);
    return result.outcome == Outcome::PortFailure ? commandcatalogue::portFailureText(result.number)
                                                  : failureText(result.outcome);
}

QString jsonLine(const QString &port, const PortResult &result, qint64 milliseconds, bool hex)
{
    const QJsonObject line{
        {QStringLiteral("target"), port},
        {QStringLiteral("result"), resultText(result)},
        {QStringLiteral("error"), result.outcome == Outcome::PortFailure ? result.number : 0},
        {QStringLiteral("seconds"), double(milliseconds) / 1000},
        {QStringLiteral("received"),
         hex ? QString::fromLatin1(result.received.toHex(' ')) : codepage::toUnicode(result.received)},
        {QStringLiteral("dropped"), result.dropped},
    };
    return QString::fromUtf8(QJsonDocument(line).toJson(QJsonDocument::Compact)) + u'\n';
}

// One port, served with its own link and event loops in the thread that calls serve().
class PortRun
{
public:
    PortRun(const Options &options, const CommandLineContext &context, OrderedPrinter &printer, qsizetype index)
        : m_options(options), m_context(context), m_printer(printer), m_index(index)
    {
    }

    Outcome serve()
    {
        using Stream = OrderedPrinter::Stream;
        const QString &port = m_options.ports[m_index];
        QElapsedTimer took;
        took.start();
        // Interrupted before its turn: the port is left alone, and says so.
        const PortResult result =
            m_context.stop && m_context.stop->stopped() ? PortResult::failed(Outcome::Interrupted) : run(port);
        if (m_options.json)
            m_printer.finish(m_index, Stream::Out, jsonLine(port, result, took.elapsed(), m_options.hex));
        else if (result.outcome == Outcome::Done)
            m_printer.finish(m_index, Stream::Out, port + QStringLiteral(": OK\n"));
        else
            m_printer.finish(m_index, Stream::Err, port + QStringLiteral(": ") + resultText(result) + u'\n');
        return result.outcome;
    }

private:
    PortResult run(const QString &port)
    {
        const Subcommand &s = *m_options.subcommand;
        const std::optional<Plan> plan = s.plan(Input{m_options.argument, m_context.clock(), QLocale()});
        if (!plan)
            return PortResult::failed(outcomeOf(s.failure));
        const std::optional<PortTarget> target = portTarget(port);
        if (!target)
            return PortResult::failed(Outcome::PortFailure, commerror::PortNotFound);
        PortResult result;
        PortLink link(m_context.programDir);
        link.port().setConnectTimeout(m_options.timeout);
        // Several ports listening print at once, line by line, each line after its port.
        const bool live = onlyListens(s) && m_options.ports.size() > 1;
        MonitorPrinter monitor(m_options.hex, m_options.timestamps, live ? port + QStringLiteral(": ") : QString());
        const auto print = [&](const QString &text) {
            if (live)
                m_printer.printNow(OrderedPrinter::Stream::Out, text);
            else
                m_printer.print(m_index, OrderedPrinter::Stream::Out, text);
        };
        QObject::connect(&link, &PortLink::received, [&](const QByteArray &bytes) {
            const qsizetype kept = std::min(bytes.size(), mostJsonReceived - result.received.size());
            if (m_options.json) {
                result.received += bytes.first(kept);
                result.dropped += bytes.size() - kept;
            } else {
                print(monitor.take(bytes, m_context.clock()));
            }
        });
        try {
            if (target->number > 0)
                link.open(m_options.baudRateText, quint8(target->number));
            else
                link.open(m_options.baudRateText, target->route);
        } catch (const CommError &failure) {
            return PortResult::failed(Outcome::PortFailure, failure.number());
        }
        if (const std::optional<int> failure = waitUntilConnected(link.port()); !failure)
            return PortResult::failed(Outcome::Interrupted);
        else if (*failure)
            return PortResult::failed(Outcome::PortFailure, *failure);
        // A device server that ends the connection at once (ser2net's "Port already in use")
        // took the bytes without passing them on; one lost later counts what its line may not
        // have carried.
        bool lost = false;
        qint64 lostUnsent = 0;
        QObject::connect(&link.port(), &CommPort::deviceLost, [&](qint64 unsent) {
            lost = true;
            lostUnsent += unsent;
        });
        for (const QList<QByteArray> *writes : {&plan->writes, &plan->afterPause}) {
            for (const QByteArray &write : *writes)
                result.written += write.size();
        }
        try {
            link.sendAll(plan->writes);
            if (plan->pause) {
                PacedWait(1, m_context.clock);
                link.sendAll(plan->afterPause);
            }
            if (!listen(link)) {
                result.outcome = Outcome::PortFailure;
                result.number = commerror::PortNotOpen;
            }
        } catch (const CommError &failure) {
            // The port's fault, never the typed date's: a script must not blame its input.
            result.outcome = Outcome::PortFailure;
            result.number = failure.number();
        }
        link.close();
        // "OK" means on the line: what is still queued drains before the port is reported.
        result.unsent = drain() + lostUnsent;
        if (result.unsent > 0 && result.outcome == Outcome::Done) {
            result.outcome = Outcome::PortFailure;
            result.number = commerror::PortNotOpen;
        }
        if (lost && result.outcome == Outcome::Done) {
            result.outcome = Outcome::PortFailure;
            result.number = commerror::PortNotOpen;
        }
        if (!m_options.json)
            print(monitor.finish());
        return result;
    }

    // Lets what is queued leave for the line's time; after a stop signal for two seconds at
    // most, after a second one not at all. Returns the bytes left behind.
    qint64 drain()
    {
        StopSignals *stop = m_context.stop;
        const auto hurry = [stop] {
            if (stop && stop->count() > 0)
                PortDrain::hurry(stop->count() > 1 ? std::chrono::milliseconds(0) : stopGrace);
        };
        QObject here;
        if (stop)
            QObject::connect(stop, &StopSignals::stopRequested, &here, hurry, Qt::QueuedConnection);
        hurry();
        return PortDrain::waitForAll();
    }

    // A device server's answer; 0 once connected, else the failure's number; nothing when a
    // stop signal ended the wait.
    std::optional<int> waitUntilConnected(CommPort &port)
    {
        if (!port.connecting())
            return 0;
        std::optional<int> failure = 0;
        QEventLoop loop;
        QObject::connect(&port, &CommPort::opened, &loop, &QEventLoop::quit);
        QObject::connect(&port, &CommPort::openFailed, &loop, [&](int number) {
            failure = number;
            loop.quit();
        });
        // Connected before stopped() is asked, so that a stop in between is not missed.
        StopSignals *stop = m_context.stop;
        if (stop)
            QObject::connect(stop, &StopSignals::stopRequested, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        if (!(stop && stop->stopped()))
            loop.exec();
        if (stop && stop->stopped())
            return std::nullopt;
        return failure;
    }

    // Prints what arrives for the time asked; false when the device went away meanwhile.
    bool listen(PortLink &link)
    {
        if (!m_options.untilStopped && m_options.listenSeconds <= 0)
            return true;
        bool lost = false;
        QEventLoop loop;
        QObject::connect(&link.port(), &CommPort::deviceLost, &loop, [&] {
            lost = true;
            loop.quit();
        });
        // Connected before stopped() is asked, so that a stop in between is not missed.
        StopSignals *stop = m_context.stop;
        if (stop)
            QObject::connect(stop, &StopSignals::stopRequested, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        if (stop && stop->stopped())
            return true;
        if (!m_options.untilStopped)
            QTimer::singleShot(qint64(m_options.listenSeconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
        return !lost;
    }

    const Options &m_options;
    const CommandLineContext &m_context;
    OrderedPrinter &m_printer;
    const qsizetype m_index;
};

// Serves every port, at most --jobs at a time, each in a pool thread of its own while this
// thread keeps the stop signals; returns the first failing port's outcome in the order given.
Outcome serveAll(const Options &options, const CommandLineContext &context)
{
    const qsizetype count = options.ports.size();
    // A closed output ends every port's wait, as Ctrl+C does.
    OrderedPrinter printer(*context.out, *context.err, count, [stop = context.stop] {
        if (stop)
            stop->requestStop();
    });
    std::vector<Outcome> outcomes(size_t(count), Outcome::Done);
    qsizetype unfinished = count;
    QEventLoop allFinished;
    QThreadPool pool;
    pool.setMaxThreadCount(options.jobs);
    for (qsizetype i = 0; i < count; ++i) {
        pool.start([&, i] {
            outcomes[size_t(i)] = PortRun(options, context, printer, i).serve();
            QMetaObject::invokeMethod(
                &allFinished,
                [&] {
                    if (--unfinished == 0)
                        allFinished.quit();
                },
                Qt::QueuedConnection);
        });
    }
    allFinished.exec();
    if (printer.outputClosed())
        return Outcome::OutputClosed;
    // What the ports served before the stop said is in their lines; the run was cut short.
    if (context.stop && context.stop->stopped())
        return Outcome::Interrupted;
    const auto failed = std::find_if(outcomes.cbegin(), outcomes.cend(), [](Outcome o) { return o != Outcome::Done; });
    return failed == outcomes.cend() ? Outcome::Done : *failed;
}

} // namespace

int runCommandLine(const QStringList &arguments, const CommandLineContext &context)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends the terminal commands of Terminal Kontrol, byte for byte as the window does."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Shows the version."));
    parser.addOptions({
        help,
        version,
        {{QStringLiteral("p"), QStringLiteral("port")},
         QStringLiteral("COMn (resolved as the window does), a device path, rfc2217://HOST:PORT or "
                        "socket://HOST:PORT; give it again for more ports."),
         QStringLiteral("port")},
        {QStringLiteral("ports-file"),
         QStringLiteral("Adds the ports FILE names, one a line; empty lines and lines starting with # are skipped."),
         QStringLiteral("file")},
        {QStringLiteral("all"), QStringLiteral("Adds every COMn the port maps name, in number order.")},
        {QStringLiteral("list"),
         QStringLiteral("Prints the ports named, one a line, and sends nothing; with none, says why and ends with 2.")},
        {{QStringLiteral("j"), QStringLiteral("jobs")},
         QStringLiteral("Serves up to N ports at once, 1 to %1 (default %2).").arg(mostJobs).arg(defaultJobs),
         QStringLiteral("n")},
        {QStringLiteral("timeout"),
         QStringLiteral(
             "Gives a device server SECONDS to take the connection and confirm the line settings, at most %1 (default %2).")
             .arg(longestTimeoutSeconds)
             .arg(std::chrono::seconds(defaultTimeout).count()),
         QStringLiteral("seconds")},
        {QStringLiteral("json"),
         QStringLiteral("Prints one JSON object a port instead: target, result, error, seconds, received (its "
                        "first MiB) and dropped (the bytes after that).")},
        {{QStringLiteral("b"), QStringLiteral("baud")},
         QStringLiteral("Baud rate text (default: the first Vxl00.Def found, below; else 4800)."),
         QStringLiteral("rate")},
        {{QStringLiteral("w"), QStringLiteral("wait")},
         QStringLiteral("Prints what arrives for SECONDS after the command."),
         QStringLiteral("seconds")},
        {QStringLiteral("hex"), QStringLiteral("Prints what arrives as hex bytes.")},
        {{QStringLiteral("t"), QStringLiteral("timestamps")}, QStringLiteral("Puts the time of arrival before each line.")},
    });
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands below."),
                                 QStringLiteral("command [argument]"));

    const auto usage = [&](const QString &reason) {
        *context.err << reason << "\n"
                     << "Try --help.\n";
        context.err->flush();
        return int(Outcome::Usage);
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(help)) {
        *context.out << helpText(parser.helpText());
        return int(Outcome::Done);
    }
    if (parser.isSet(version)) {
        *context.out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        return int(Outcome::Done);
    }
    // For a timer's check that there is something to do: the reason alone, one line in the journal.
    if (parser.isSet(QStringLiteral("list"))) {
        QStringList targets;
        const QString reason = collectTargets(parser, targets);
        (reason.isEmpty() ? *context.out : *context.err) << (reason.isEmpty() ? targets.join(u'\n') : reason) << '\n';
        return int(reason.isEmpty() ? Outcome::Done : Outcome::Usage);
    }
    Options options;
    if (const QString reason = parse(parser, options, context.programDir); !reason.isEmpty())
        return usage(reason);

    return int(serveAll(options, context));
}
