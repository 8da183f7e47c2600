#include "soak.h"

#include "drainwindow.h"
#include "endsignals.h"
#include "harness.h"
#include "portdrain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <csignal>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;

namespace soak {

// A main window in a process of its own, as the program runs, until a signal ends it.
int runUntilSignal(int port, int frameBytes)
{
    closePortsAtEveryEnd();
    Module1 module;
    module.programDir = programDir();
    module.SelectedPort = quint8(port);
    auto *form = new Form1(module);
    form->load();
    form->show();
    form->commandBox->setText(QString(frameBytes, u'q'));
    form->commandButton->click();
    std::printf("running\n");
    std::fflush(stdout);
    const int status = QCoreApplication::exec();
    PortDrain::waitForAll();
    return status;
}

// SIGTERM while a frame is still on its way: it must reach the line whole, and the lock must go.
int sigterm(int rounds)
{
    Tally tally;
    removeSettingsFile();
    constexpr int frameBytes = 20000;
    for (int round = 0; round < rounds; ++round) {
        Pty far;
        far.linkAs(programDir(), 13);
        const QString lock = QStringLiteral("/var/lock/LCK..") + far.devicePath().mid(5).replace(u'/', u'_');
        QProcess program;
        program.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("rununtilsignal"), QStringLiteral("13"), QString::number(frameBytes)});
        const bool running = program.waitForReadyRead(10000) && far.waitForRawMode();
        tally.check(running && QFile::exists(lock), QStringLiteral("round %1: port open and locked").arg(round));
        ::kill(pid_t(program.processId()), SIGTERM);
        const QByteArray got = far.read(frameBytes + 1, 10s);
        program.waitForFinished(10000);
        tally.check(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0,
                    QStringLiteral("round %1: ended cleanly").arg(round));
        tally.check(!QFile::exists(lock), QStringLiteral("round %1: lock gone").arg(round));
        tally.compareStream("@" + QByteArray(frameBytes, 'q'), got, false, QStringLiteral("round %1: frame").arg(round));
    }
    std::printf("SIGTERM %d times with a %d-byte frame on its way\n", rounds, frameBytes);
    return tally.finish("sigterm");
}

// How each end of a run tells what happened to the bytes it was given: the command line to a
// line that takes nothing, interrupted between ports, stopped twice while it drains, and with
// its output closed; the window's drain stopped from its progress window; the exit handler's
// write-out ended by SIGTERM. Prints bytes queued and delivered, how each ended, locks left.
int ends(int rounds)
{
    Tally tally;
    removeSettingsFile();
    int locksLeft = 0;
    const auto lockOf = [](const Pty &far) {
        return QStringLiteral("/var/lock/LCK..") + far.devicePath().mid(5).replace(u'/', u'_');
    };
    const auto cli = [&](QProcess &run, const QStringList &arguments) {
        run.start(QStringLiteral(TK_CLI_PATH), arguments);
        run.waitForStarted();
    };
    // Timers must fire meanwhile: they send the signals.
    const auto finished = [](QProcess &run) { return waitUntil([&] { return run.state() == QProcess::NotRunning; }, 20s); };
    const auto interrupt = [](QProcess &run) {
        if (run.processId() > 0)
            ::kill(pid_t(run.processId()), SIGINT);
    };
    for (int round = 0; round < rounds; ++round) {
        Pty full, a, b, c, monitored;
        QProcess undelivered, interrupted, stopped, monitor, head;
        constexpr int queued = 20000;
        cli(undelivered, {"-b", "115200", "-p", full.devicePath(), "command", QString(queued, u'x')});
        cli(interrupted, {"-j", "1", "-p", a.devicePath(), "-p", b.devicePath(), "-p", c.devicePath(), "message", "X"});
        QTimer::singleShot(300, &interrupted, [&] { interrupt(interrupted); });
        monitor.setStandardOutputProcess(&head);
        head.start(QStringLiteral("head"), {"-c", "5"});
        cli(monitor, {"-p", monitored.devicePath(), "monitor"});
        monitored.waitForRawMode();
        monitored.write("more than five bytes\r\n");
        finished(head);
        monitored.write("more\r\n");
        for (QProcess *run : {&undelivered, &interrupted, &monitor})
            finished(*run);
        const QString said = QString::fromUtf8(undelivered.readAllStandardError());
        const qsizetype delivered = full.readAll().size();
        std::printf("ends round %d: %d bytes queued to a line that read none, %lld delivered: %s", round, queued + 1,
                    qlonglong(delivered), qPrintable(said));
        tally.check(undelivered.exitCode() == 1
                        && said.contains(QStringLiteral("of %1 bytes did not leave").arg(queued + 1)),
                    QStringLiteral("round %1: undelivered bytes reported").arg(round));
        const QByteArray notServed = interrupted.readAllStandardError();
        tally.check(interrupted.exitCode() == 130 && notServed.count("not served: interrupted") == 2,
                    QStringLiteral("round %1: interrupted ports named (%2: %3)")
                        .arg(round)
                        .arg(interrupted.exitCode())
                        .arg(QString::fromUtf8(notServed)));
        tally.check(monitor.exitStatus() == QProcess::NormalExit && monitor.exitCode() == 141,
                    QStringLiteral("round %1: closed output ended monitor").arg(round));

        // Stopped twice while 40 001 bytes wait on a 4800-baud line that reads nothing.
        QElapsedTimer took;
        took.start();
        cli(stopped, {"-b", "4800", "-p", full.devicePath(), "command", QString(40000, u'x')});
        QTimer::singleShot(500, &stopped, [&] { interrupt(stopped); });
        QTimer::singleShot(800, &stopped, [&] { interrupt(stopped); });
        finished(stopped);
        std::printf("ends round %d: two SIGINTs during a drain: status %d after %lld ms\n", round, stopped.exitCode(),
                    took.elapsed());
        tally.check(stopped.exitCode() == 130 && took.elapsed() < 3000,
                    QStringLiteral("round %1: drain stopped").arg(round));

        // The window's bytes, stopped from the progress window.
        Form1Harness h(14);
        h.form->commandBox->setText(QString(30000, u'x'));
        h.click(h.form->commandButton);
        h.form->close();
        QTimer::singleShot(1500, [] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *stop = w->findChild<QPushButton *>(QStringLiteral("stopSending")); stop && w->isVisible())
                    stop->click();
            }
        });
        const qint64 left = finishSending();
        std::printf("ends round %d: window closed with 30001 bytes queued, stopped: %lld left\n", round, qlonglong(left));
        tally.check(left > 0, QStringLiteral("round %1: the window's drain stopped").arg(round));
        for (const Pty *far : {&full, &a, &b, &c, &monitored, &h.far})
            locksLeft += QFile::exists(lockOf(*far));
    }
    // Last, as it leaves stop signals armed: the exit handler's write-out, ended by SIGTERM.
    Form1Harness h(14);
    h.form->commandBox->setText(QString(30000, u'x'));
    h.click(h.form->commandButton);
    std::thread([] {
        std::this_thread::sleep_for(300ms);
        ::kill(::getpid(), SIGTERM);
    }).detach();
    QElapsedTimer took;
    took.start();
    CommPort::closeAllNow();
    locksLeft += QFile::exists(lockOf(h.far));
    std::printf("ends: exit write-out ended by SIGTERM after %lld ms; locks left: %d\n", took.elapsed(), locksLeft);
    tally.check(took.elapsed() < 2000 && locksLeft == 0, QStringLiteral("every end released its lock"));
    return tally.finish("ends");
}

} // namespace soak
