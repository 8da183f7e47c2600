#include "comname.h"
#include "simline.h"
#include "stopsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSocketNotifier>

#include <cstdio>
#include <stdexcept>
#include <unistd.h>

namespace {

// Why COMn beside the program may not become the simulator's, or nothing when it may.
// A link there names a real adapter (even an unplugged one); where none is, COMn is
// /dev/COMn when a udev rule made it, else an on-board port, which counts when a UART
// stands behind it.
QString taken(const QString &link, int number)
{
    const QFileInfo existing(link);
    if (existing.isSymLink() || existing.exists()) {
        // Left behind by a simulator that did not end cleanly: its line is gone.
        const QString target = existing.symLinkTarget();
        const bool simulators = target.startsWith(QLatin1String("/proc/")) || target.startsWith(QLatin1String("/dev/pts/"));
        if (simulators && !QFileInfo::exists(target) && QFile::remove(link))
            return {};
        return QStringLiteral("%1 exists already (%2)").arg(link, target.isEmpty() ? QStringLiteral("a file") : target);
    }
    const QString onBoard = QStringLiteral("/dev/ttyS%1").arg(number - 1);
    if (const ComResolution com = resolveCom(number, QFileInfo(link).path()); com.name != onBoard)
        return QStringLiteral("COM%1 is %2 (%3)").arg(number).arg(com.name, com.device);
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
        if (port.systemLocation() == onBoard)
            return QStringLiteral("COM%1 is the serial port %2").arg(number).arg(onBoard);
    }
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("terminal-kontrol-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("6.2"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated terminal on a pseudo-terminal, for trying Terminal Kontrol without hardware.\n"
        "Prints the line's device path first, then one line per frame received (<-) and sent (->).\n"
        "Each line typed on its input goes to the program whole, with CR LF, as if the terminal sent it.\n"
        "Answers no program reads are held up to 1 MiB; beyond that the oldest go, counted in the log."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Also makes COMn beside the program point at the line through this process's own "
                       "descriptor (/proc/<pid>/fd/<n>): a link left behind by a killed simulator leads "
                       "nowhere, never to another pseudo-terminal. Refused when a real port is COMn."),
        QStringLiteral("COMn"));
    parser.addOption(linkOption);
    parser.process(app);

    QTextStream out(stdout);
    QString link;
    if (parser.isSet(linkOption)) {
        const int number = comNumber(parser.value(linkOption));
        if (number == 0) {
            std::fprintf(stderr, "--link takes COM1 to COM%d\n", highestPortNumber);
            return 2;
        }
        link = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("COM%1").arg(number));
        if (const QString reason = taken(link, number); !reason.isEmpty()) {
            std::fprintf(stderr, "not linked: %s\n", qPrintable(reason));
            return 1;
        }
    }

    StopSignals stop;
    QObject::connect(&stop, &StopSignals::stopRequested, &app, &QCoreApplication::quit);
    try {
        SimLine line(out);
        out << line.devicePath() << '\n';
        if (!link.isEmpty()) {
            if (!QFile::link(line.processPath(), link)) {
                std::fprintf(stderr, "cannot make %s\n", qPrintable(link));
                return 1;
            }
            out << QFileInfo(link).fileName() << " -> " << line.processPath() << " (" << link << ")\n";
        }
        out.flush();

        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QByteArray typed; // a line whose end has not come yet
        QObject::connect(&input, &QSocketNotifier::activated, [&] {
            char buffer[4096];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0) {
                typed.append(buffer, n);
            } else {
                input.setEnabled(false);
                typed += '\n'; // the input's end ends its last line
            }
            for (qsizetype end; (end = typed.indexOf('\n')) >= 0;) {
                QByteArray one = typed.left(end);
                typed.remove(0, end + 1);
                if (one.endsWith('\r'))
                    one.chop(1);
                if (!one.trimmed().isEmpty())
                    line.sendTyped(one);
            }
        });
        const int status = app.exec();
        if (!link.isEmpty())
            QFile::remove(link);
        return status;
    } catch (const std::runtime_error &failure) {
        std::fprintf(stderr, "%s\n", failure.what());
        return 1;
    }
}
