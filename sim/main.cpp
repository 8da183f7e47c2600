#include "buildinfo.h"
#include "comname.h"
#include "simline.h"
#include "stopsignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Why COMn may not become the simulator's, or nothing when it may. A link beside the program
// or in the user's folder names a real adapter (even an unplugged one) or a live simulator;
// where none is, COMn is what the port maps or /dev/COMn make it, else an on-board port,
// which counts when a UART stands behind it.
QString taken(int number, const QString &programDir, const QString &userLinks)
{
    const QString name = QStringLiteral("COM%1").arg(number);
    for (const QString &folder : {programDir, userLinks}) {
        const QString link = QDir(folder).filePath(name);
        const QFileInfo existing(link);
        if (folder.isEmpty() || (!existing.isSymLink() && !existing.exists()))
            continue;
        // Left behind by a simulator that did not end cleanly: its line is gone.
        const QString target = existing.symLinkTarget();
        const bool simulators = target.startsWith(QLatin1String("/proc/")) || target.startsWith(QLatin1String("/dev/pts/"));
        if (!simulators || QFileInfo::exists(target))
            return QStringLiteral("%1 exists already (%2)").arg(link, target.isEmpty() ? QStringLiteral("a file") : target);
        if (::unlink(QFile::encodeName(link).constData()) != 0)
            return QStringLiteral("cannot remove %1, left by a simulator that is gone: %2").arg(link, systemReason());
    }
    const QString onBoard = QStringLiteral("/dev/ttyS%1").arg(number - 1);
    const ComResolution com =
        resolveCom(number, programDir, QStringLiteral("/dev"), settingsfile::configFolders(), userLinks);
    if (com.name != onBoard)
        return QStringLiteral("COM%1 is %2 (%3)").arg(number).arg(com.name, com.device);
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
        if (port.systemLocation() == onBoard)
            return QStringLiteral("COM%1 is the serial port %2").arg(number).arg(onBoard);
    }
    return {};
}

// Where the link goes: beside the program, where the window and the command line of that
// folder look first, when this user may write there; else the user's own folder. Empty, with
// the reason in `refusal`, when neither can be had.
QString linkFolder(const QString &programDir, const QString &userLinks, QString &refusal)
{
    if (::access(QFile::encodeName(programDir).constData(), W_OK) == 0)
        return programDir;
    const QString besideReason = systemReason();
    if (userLinks.isEmpty()) {
        refusal = QStringLiteral("cannot link in %1: %2; and XDG_RUNTIME_DIR, under which the user's own "
                                 "links go, is not set")
                      .arg(programDir, besideReason);
        return {};
    }
    if (::mkdir(QFile::encodeName(userLinks).constData(), 0700) != 0 && errno != EEXIST) {
        refusal = QStringLiteral("cannot link in %1: %2; nor make %3: %4")
                      .arg(programDir, besideReason, userLinks, systemReason());
        return {};
    }
    return userLinks;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("terminal-kontrol-sim"));
    QCoreApplication::setApplicationVersion(QLatin1String(programVersion));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A simulated terminal on a pseudo-terminal, for trying Terminal Kontrol without hardware.\n"
                       "Prints the line's device path first, then one line per frame received (<-) and sent (->).\n"
                       "Each line typed on its input goes to the program whole, with CR LF, as if the terminal sent it.\n"
                       "Answers no program reads are held up to 1 MiB; beyond that the oldest go, counted in the log."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOption(
        QStringLiteral("link"),
        QStringLiteral("Also makes COMn beside the program point at the line through this process's own "
                       "descriptor (/proc/<pid>/fd/<n>): a link left behind by a killed simulator leads "
                       "nowhere, never to another pseudo-terminal. Where the user may not write beside the "
                       "program, the link is $XDG_RUNTIME_DIR/terminal-kontrol/COMn, the user's own. "
                       "Refused when a real port is COMn."),
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
        const QString programDir = QCoreApplication::applicationDirPath(), userLinks = userLinkFolder();
        QString reason = taken(number, programDir, userLinks);
        const QString folder = reason.isEmpty() ? linkFolder(programDir, userLinks, reason) : QString();
        if (!reason.isEmpty()) {
            std::fprintf(stderr, "not linked: %s\n", qPrintable(reason));
            return 1;
        }
        link = QDir(folder).filePath(QStringLiteral("COM%1").arg(number));
    }

    StopSignals stop;
    QObject::connect(&stop, &StopSignals::stopRequested, &app, &QCoreApplication::quit);
    try {
        SimLine line(out);
        out << line.devicePath() << '\n';
        if (!link.isEmpty()) {
            if (::symlink(QFile::encodeName(line.processPath()).constData(), QFile::encodeName(link).constData()) != 0) {
                std::fprintf(stderr, "cannot make %s: %s\n", qPrintable(link), std::strerror(errno));
                return 1;
            }
            out << QFileInfo(link).fileName() << " -> " << line.processPath() << " (" << link << ")\n";
        }
        out.flush();

        QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
        TypedLines typed;
        QObject::connect(&input, &QSocketNotifier::activated, [&] {
            char buffer[4096];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            const qint64 dropped = typed.dropped();
            const QByteArrayList lines = n > 0 ? typed.feed(QByteArrayView(buffer, n)) : typed.finish();
            if (n <= 0)
                input.setEnabled(false);
            if (typed.dropped() > dropped)
                out << "typed: a line without its end yet, " << typed.dropped() << " older bytes dropped\n" << Qt::flush;
            for (const QByteArray &one : std::as_const(lines))
                line.sendTyped(one);
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
