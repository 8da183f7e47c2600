// The built program on a real X server (Xvfb), driven by xdotool as an operator would:
// pick a port in the port window, confirm with its access key, press buttons by theirs,
// and check what reached the line.
#include "farend.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void operatorPicksPortAndPressesButtons();

private:
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
    // -displayfd 1: the server picks a free display and names it on its standard output.
    m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                                          QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1024x768x24")});
    QVERIFY(m_xvfb.waitForStarted());
    QVERIFY(waitUntil([&] { return m_xvfb.canReadLine(); }, 10s));
    m_display = QStringLiteral(":") + QString::fromLatin1(m_xvfb.readLine()).trimmed();
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
            const QStringList ids = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                             QStringLiteral("--name"), title})
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
    // A copy of the program in a folder of its own, with COM3 linked to our end of the line.
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("terminal-kontrol"));
    QVERIFY(QFile::copy(QStringLiteral(TK_PROGRAM_PATH), program));
    Pty far;
    far.linkAs(dir.path(), 3);

    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::ForwardedChannels);
    // Started as the package's command is: through a link elsewhere on the PATH, with an
    // argument it does not know. The COM3 beside the program itself must still be found.
    QTemporaryDir bin;
    const QString command = bin.filePath(QStringLiteral("terminal-kontrol"));
    QVERIFY(QFile::link(program, command));
    run.start(command, {QStringLiteral("--verbose")});
    QVERIFY(run.waitForStarted());

    const QString caption = QStringLiteral("Vexla Terminal Kontrol V 6.2");
    const QString portWindow = waitForWindow(caption);
    QVERIFY2(!portWindow.isEmpty(), "the port window did not appear");
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), portWindow});
    // COM1 is selected and the list has the focus: two steps down is COM3; Alt+T confirms.
    xdotool({QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("50"), QStringLiteral("Down"),
             QStringLiteral("Down"), QStringLiteral("alt+t")});
    QVERIFY2(far.waitForRawMode(10s), "the program did not open COM3");

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

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
