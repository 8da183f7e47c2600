// The built program on a real X server (Xvfb), driven by xdotool as an operator would:
// pick a port in the port window, confirm with its access key, press buttons by theirs,
// and check what reached the line.
#include "caption.h"
#include "farend.h"
#include "portlink.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/ioctl.h>

using namespace std::chrono_literals;

// A copy of the program in a folder of its own, with COM3 there linked to our end of the line.
struct ProgramBesideLine
{
    QTemporaryDir dir;
    Pty far;
    QString program = dir.filePath(QStringLiteral("terminal-kontrol"));
    bool copied = QFile::copy(QStringLiteral(TK_PROGRAM_PATH), program);

    ProgramBesideLine() { far.linkAs(dir.path(), 3); }
};

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void operatorPicksPortAndPressesButtons();
    void endingReleasesThePort_data();
    void endingReleasesThePort();

private:
    QString startXvfb(QProcess &server);
    // Starts `command` (the program, or a link to it, with COM3 beside it linked to `far`) and
    // confirms COM3 in its port window; returns that window's id.
    QString startOnCom3(QProcess &run, const QString &command, const QStringList &arguments, Pty &far);
    QString xdotool(const QStringList &arguments);
    QString waitForWindow(const QString &title, const QString &notId = QString());

    QProcess m_xvfb;
    QString m_display;
};

void TestProgram::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()
        || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QFAIL("Xvfb and xdotool are needed (tools/install-deps.sh installs them)");
    m_display = startXvfb(m_xvfb);
    QVERIFY(!m_display.isEmpty());
}

QString TestProgram::startXvfb(QProcess &server)
{
    // -displayfd 1: the server picks a free display and names it on its standard output.
    server.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                                          QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24")});
    if (!server.waitForStarted() || !waitUntil([&] { return server.canReadLine(); }, 10s))
        return {};
    return QStringLiteral(":") + QString::fromLatin1(server.readLine()).trimmed();
}

void TestProgram::cleanupTestCase()
{
    m_xvfb.terminate();
    m_xvfb.waitForFinished();
}

QString TestProgram::xdotool(const QStringList &arguments)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    tool.waitForFinished(10000);
    return QString::fromLatin1(tool.readAllStandardOutput()).trimmed();
}

QString TestProgram::waitForWindow(const QString &title, const QString &notId)
{
    QString found;
    waitUntil(
        [&] {
            const QStringList ids =
                xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"), title})
                    .split(u'\n', Qt::SkipEmptyParts);
            for (const QString &id : ids) {
                if (id != notId)
                    found = id;
            }
            return !found.isEmpty();
        },
        10s);
    return found;
}

void TestProgram::operatorPicksPortAndPressesButtons()
{
    ProgramBesideLine copy;
    QVERIFY(copy.copied);
    Pty &far = copy.far;

    // Started as the package's command is: through a link elsewhere on the PATH, with an
    // argument it does not know. The COM3 beside the program itself must still be found.
    QTemporaryDir bin;
    const QString command = bin.filePath(QStringLiteral("terminal-kontrol"));
    QVERIFY(QFile::link(copy.program, command));
    QProcess run;
    const QString portWindow = startOnCom3(run, command, {QStringLiteral("--verbose")}, far);
    QVERIFY(!portWindow.isEmpty());

    const QString caption = WindowCaption();
    const QString mainWindow = waitForWindow(caption, portWindow);
    QVERIFY2(!mainWindow.isEmpty(), "the main window did not appear");
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), mainWindow});
    xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("300"), QStringLiteral("alt+a"),
             QStringLiteral("alt+r")});
    QCOMPARE(hexDump(far.readWithExtras(4)), hexDump("@A@V"));

    // Typing goes to the focused box and out in the terminal's code page.
    xdotool({QStringLiteral("key"), QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Tab"),
             QStringLiteral("Tab"), QStringLiteral("Tab")}); // to the counter box
    xdotool({QStringLiteral("type"), QStringLiteral("42")});
    xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("300"), QStringLiteral("alt+k")});
    QCOMPARE(hexDump(far.readWithExtras(6)), hexDump("@I0042"));

    run.terminate();
    QVERIFY(run.waitForFinished(10000));
}

QString TestProgram::startOnCom3(QProcess &run, const QString &command, const QStringList &arguments, Pty &far)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::ForwardedChannels);
    run.start(command, arguments);
    if (!run.waitForStarted())
        return {};
    const QString portWindow = waitForWindow(WindowCaption());
    if (portWindow.isEmpty())
        return {};
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), portWindow});
    // COM1 is selected and the list has the focus: two steps down is COM3; Alt+T confirms.
    xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50"), QStringLiteral("Down"),
             QStringLiteral("Down"), QStringLiteral("alt+t")});
    return far.waitForRawMode(10s) ? portWindow : QString();
}

void TestProgram::endingReleasesThePort_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("closesThePort");

    QTest::newRow("SIGTERM") << SIGTERM << true;
    QTest::newRow("SIGINT") << SIGINT << true;
    QTest::newRow("SIGHUP") << SIGHUP << true;
    QTest::newRow("display connection lost (no signal)") << 0 << true;
    QTest::newRow("SIGKILL leaves a stale lock") << SIGKILL << false;
}

void TestProgram::endingReleasesThePort()
{
    QFETCH(int, signal);
    QFETCH(bool, closesThePort);

    QProcess ownServer;
    const QString sharedDisplay = m_display;
    const auto restoreDisplay = qScopeGuard([&] { m_display = sharedDisplay; });
    if (signal == 0)
        m_display = startXvfb(ownServer);
    ProgramBesideLine copy;
    QVERIFY(copy.copied);
    QProcess run;
    QVERIFY2(!startOnCom3(run, copy.program, {}, copy.far).isEmpty(), "the program did not open COM3");
    const QString lock = QStringLiteral("/var/lock/LCK..") + copy.far.devicePath().mid(5).replace(u'/', u'_');
    QVERIFY2(QFile::exists(lock), qPrintable(lock));

    if (signal == 0)
        ownServer.kill();
    else
        ::kill(pid_t(run.processId()), signal);
    QVERIFY(run.waitForFinished(10000));
    QCOMPARE(run.exitStatus() == QProcess::NormalExit, closesThePort);
    QCOMPARE(QFile::exists(lock), !closesThePort);

    ::ioctl(copy.far.slaveFd(), TIOCNXCL); // as a device's last close would: our far end holds it open
    // Whoever opens the line next gets it, also past the lock of a process that has died.
    PortLink next(copy.dir.path());
    try {
        next.open(QStringLiteral("4800"), 3);
    } catch (const CommError &failure) {
        QFAIL(qPrintable(QStringLiteral("reopening failed with %1").arg(failure.number())));
    }
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
