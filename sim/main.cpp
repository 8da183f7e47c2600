#include "comname.h"
#include "simline.h"
#include "stopsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
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
        if (target.startsWith(QLatin1String("/dev/pts/")) && !QFileInfo::exists(target) && QFile::remove(link))
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
        "Each line typed on its input goes to the program, with CR LF, as if the terminal sent it."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Also makes COMn beside the program point at the line; refused when a real port is COMn."),
        QStringLiteral("COMn"));
    parser.addOption(linkOption);
    parser.process(app);

    QTextStream out(stdout);
    QString link;
    if (parser.isSet(linkOption)) {
        const auto match = QRegularExpression(QStringLiteral("^COM([1-9][0-9]{0,2})$"))
                               .match(parser.value(linkOption).toUpper());
        if (!match.hasMatch() || match.captured(1).toInt() > 255) {
            std::fprintf(stderr, "--link takes COM1 to COM255\n");
            return 2;
        }
        link = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("COM") + match.captured(1));
        if (const QString reason = taken(link, match.captured(1).toInt()); !reason.isEmpty()) {
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
            if (!QFile::link(line.devicePath(), link)) {
                std::fprintf(stderr, "cannot make %s\n", qPrintable(link));
                return 1;
            }
            out << QFileInfo(link).fileName() << " -> " << line.devicePath() << " (" << link << ")\n";
        }
        out.flush();

        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(&input, &QSocketNotifier::activated, [&] {
            char buffer[1024];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer - 1);
            if (n <= 0) {
                input.setEnabled(false);
                return;
            }
            const QByteArray typed = QByteArray(buffer, n).trimmed();
            if (!typed.isEmpty())
                line.send(typed + "\r\n");
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
