// The command line and the simulator: each subcommand's bytes against the window's button
// on the same input, several ports, the simulated terminal's state and answers, and the
// two programs together.
#include "clicommandline.h"
#include "fakeclock.h"
#include "framereader.h"
#include "harness.h"
#include "ser2net.h"
#include "receiveconsole.h"
#include "simline.h"
#include "simterminal.h"

#include "stopsignals.h"

#include <QDir>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <list>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

const QDateTime friday(QDate(2026, 12, 4), QTime(10, 20, 30, 950));

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
};

// `oneStream`: what goes to stderr lands in `out` too, in the order printed.
CliRun runCli(const QStringList &arguments, const Clock &clock = systemNow, bool oneStream = false)
{
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = runCommandLine(QStringList{QStringLiteral("terminal-kontrol-cli")} + arguments,
                                {QCoreApplication::applicationDirPath(), clock, &out, oneStream ? &out : &err, nullptr});
    return run;
}

QByteArray information(const char *date, const char *time, const char *weekday, const QByteArray &company = {},
                       const char *counter = "0000", const QByteArray &message = {})
{
    return QByteArray("TARIH ") + date + "\r\nSAAT " + time + "\r\nGUN " + weekday + "\r\nFIRMA " + company + "\r\nSAYAC "
           + counter + "\r\nMESAJ " + message + "\r\n";
}

} // namespace

class TestCompanions : public QObject
{
    Q_OBJECT

private slots:
    // The port maps of a user and a machine of the test's own.
    void initTestCase()
    {
        qputenv("XDG_CONFIG_HOME", m_config.filePath(QStringLiteral("user")).toLocal8Bit());
        qputenv("XDG_CONFIG_DIRS", m_config.filePath(QStringLiteral("machine")).toLocal8Bit());
    }
    void init() { writeSettingsFile(nullptr); }
    void sameBytesAsTheWindow_data();
    void sameBytesAsTheWindow();
    void severalPorts_data();
    void severalPorts();
    void stoppedWhileBytesWait();
    void monitorOfSeveralPorts();
    void closedOutputEndsMonitor();
    void simulatorAnswers_data();
    void simulatorAnswers();
    void simulatorThroughTheCommandLine_data();
    void simulatorThroughTheCommandLine();
    void simulatorHoldsUnreadAnswersBounded();
    void simulatorClearsExclusiveModeAlone();
    void simulatorTypedThenKilled();
    void simulatorLinksForItsUser();

private:
    QTemporaryDir m_config;
};

void TestCompanions::sameBytesAsTheWindow_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");

    const QByteArray nothing;
    QStringList named;
    const auto row = [&](const char *tag, const char *command) -> QTestData & {
        named << QLatin1String(command);
        return QTest::newRow(tag) << QString(QLatin1String(command));
    };
    row("access", "access") << ""
                            << "Command17"
                            << "" << QByteArray("@A") << 0;
    row("reset", "reset") << ""
                          << "Command19"
                          << "" << QByteArray("@V") << 0;
    row("information", "info") << ""
                               << "Command10"
                               << "" << QByteArray("@S") << 0;
    row("counter read", "counter-read") << ""
                                        << "Command11"
                                        << "" << QByteArray("@K") << 0;
    row("counter zero", "counter-zero") << ""
                                        << "Command5"
                                        << "" << QByteArray("@Z") << 0;
    row("counter 7", "counter-assign") << "7"
                                       << "Command14"
                                       << "Text11" << QByteArray("@I0007") << 0;
    row("counter empty", "counter-assign") << ""
                                           << "Command14"
                                           << "Text11" << QByteArray("@I0000") << 0;
    row("card read padded", "card-read") << "12"
                                         << "Command4"
                                         << "Text1" << QByteArray("0012") << 0;
    row("card read drawn", "card-read") << ""
                                        << "Command4"
                                        << "Text1" << cardnumber::RandomCards().nextText().toLatin1() << 0;
    row("date from the clock", "date") << ""
                                       << "Command2"
                                       << "Text2" << QByteArray("@D\x04\x0C\x1A\x05") << 0;
    row("date typed Sunday", "date") << "2026-12-06"
                                     << "Command2"
                                     << "Text2" << QByteArray("@D\x06\x0C\x1A\x07") << 0;
    row("date letters", "date") << "abc"
                                << "Command2"
                                << "Text2" << nothing << 3;
    row("time from the clock", "time") << ""
                                       << "Command3"
                                       << "Text7" << QByteArray("@T\x0A\x14") << 0;
    row("time typed", "time") << "07:05"
                              << "Command3"
                              << "Text7" << QByteArray("@T\x07\x05") << 0;
    row("time 25:00", "time") << "25:00"
                              << "Command3"
                              << "Text7" << nothing << 4;
    row("company Turkish", "company") << QStringLiteral("Şeker Ağ") << "Command1"
                                      << "Text6"
                                      << QByteArray("@F\xDE"
                                                    "eker A\xF0")
                                      << 0;
    row("message", "message") << QStringLiteral("İYİ") << "Command6"
                              << "Text4" << QByteArray("@L\0\1@W\xDDY\xDD\0", 10) << 0;
    row("free command", "command") << "S"
                                   << "Command9"
                                   << "Text3" << QByteArray("@S") << 0;
    row("dial", "dial") << "0,2125551234"
                        << "Command18"
                        << "Text10" << QByteArray("ATDT0,2125551234\r\n") << 0;
    row("card frame 1000", "card-frame") << "1000"
                                         << "Label3"
                                         << "Text1" << QByteArray("@P\x03\xE8") + QByteArray(21, '\0') << 0;
    row("card frame 65536", "card-frame") << "65536"
                                          << "Label3"
                                          << "Text1" << nothing << 5;
    row("monitor", "monitor") << "0"
                              << ""
                              << "" << nothing << 0;
    // A command without a row fails: its button and subcommand could drift apart unseen.
    for (const commandcatalogue::Command &c : commandcatalogue::all()) {
        if (!named.contains(QLatin1String(c.name)))
            row(c.name, c.name) << ""
                                << ""
                                << "" << nothing << -1;
    }
}

// Both sides start just before a second ends, so the message's pause is short.
void TestCompanions::sameBytesAsTheWindow()
{
    QFETCH(QString, command);
    QFETCH(QString, typed);
    QFETCH(QString, control);
    QFETCH(QString, box);
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);

    QVERIFY2(status >= 0, "every command of the catalogue needs a row here");
    MessageBoxCatcher boxes;
    if (!control.isEmpty()) { // monitor has no control: the window sends nothing for it either
        FakeClock window(friday);
        Form1Harness h(5, window.clock());
        if (!box.isEmpty())
            h.form->findChild<QLineEdit *>(box)->setText(typed);
        QWidget *clicked = h.form->findChild<QWidget *>(control);
        QVERIFY(clicked);
        h.click(clicked);
        QCOMPARE(hexDump(h.far.readWithExtras(bytes.size())), hexDump(bytes));
    }
    Pty far;
    FakeClock cli(friday);
    const QStringList argument = box.isEmpty() && typed.isEmpty() ? QStringList() : QStringList{typed};
    const CliRun run = runCli(QStringList{QStringLiteral("--port"), far.devicePath(), command} + argument, cli.clock());
    QCOMPARE(hexDump(far.readWithExtras(bytes.size())), hexDump(bytes));
    QCOMPARE(run.status, status);
    // The command line prints what the window's message box says.
    const QStringList shown = status ? QStringList{run.err.section(QStringLiteral(": "), 1).trimmed()} : QStringList();
    QCOMPARE(boxes.texts, shown);
}

void TestCompanions::severalPorts_data()
{
    // %1, %2, %3: the lines; %4: a ports file naming %3; %5: the test's configuration folder.
    // The user's port map names %1 as COM12 and %2 as COM3.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<int>("status"); // every line gets one command unless the use was wrong

    const QStringList wait{"-p", "%1", "-p", "COM200", "-p", "%2", "-p", "%3", "-w", "1"};
    QTest::newRow("a port that fails at once waits for the slow one before it")
        << wait << "ŞA\r\n%1: OK\nCOM200: PORT Hatası 8002\nB\r\n%2: OK\n%3: OK\n"
        << 1;
    const QString json(R"({"dropped":0,"error":0,"received":"{A}","result":"OK","target":"%1"}
{"dropped":0,"error":8002,"received":"","result":"PORT Hatası 8002","target":"COM200"}
{"dropped":0,"error":0,"received":"{B}","result":"OK","target":"%2"}
{"dropped":0,"error":0,"received":"","result":"OK","target":"%3"}
)");
    QTest::newRow("JSON") << QStringList{"--json"} + wait
                          << QString(json).replace("{A}", "ŞA\\r\\n").replace("{B}", "B\\r\\n") << 1;
    QTest::newRow("JSON in hex") << QStringList{"--json", "--hex"} + wait
                                 << QString(json).replace("{A}", "de 41 0d 0a").replace("{B}", "42 0d 0a") << 1;
    QTest::newRow("--port, then the ports file, then --all") << QStringList{"--all", "--ports-file", "%4", "-p", "COM200"}
                                                             << "COM200: PORT Hatası 8002\n%3: OK\nCOM3: OK\nCOM12: OK\n"
                                                             << 1;
    QTest::newRow("the same port by its path and its COMn")
        << QStringList{"-p", "%1", "-p", "COM12"} << "%1 and COM12 are the same port (%1): give it once\nTry --help.\n"
        << 2;
    QTest::newRow("COM03 is no name of the map's COM3") << QStringList{"-p", "COM03", "-p", "%1", "-p", "%2", "-p", "%3"}
                                                        << "COM03: PORT Hatası 8002\n%1: OK\n%2: OK\n%3: OK\n"
                                                        << 1;
    QTest::newRow("--list names them, sends nothing")
        << QStringList{"--list", "--all", "-p", "COM200"} << "COM200\nCOM3\nCOM12\n"
        << 0;
    QTest::newRow("missing ports file") << QStringList{"--ports-file", "%5/none", "-p", "%1"}
                                        << "cannot read the ports file %5/none: No such file or directory\nTry --help.\n"
                                        << 2;
    QTest::newRow("--jobs 0") << QStringList{"-j", "0", "-p", "%1"}
                              << "--jobs takes a whole number from 1 to 256\nTry --help.\n"
                              << 2;
    QTest::newRow("--timeout -1") << QStringList{"--timeout", "-1", "-p", "%1"}
                                  << "--timeout takes a number of seconds above 0, at most 3600\nTry --help.\n"
                                  << 2;
    QTest::newRow("a wait no timer holds") << QStringList{"--wait", "2147484", "-p", "%1"}
                                           << "not a number of seconds from 0 to 2147483: 2147484\nTry --help.\n"
                                           << 2;
    QTest::newRow("an endless wait") << QStringList{"--wait", "inf", "-p", "%1"}
                                     << "not a number of seconds from 0 to 2147483: inf\nTry --help.\n"
                                     << 2;
}

void TestCompanions::stoppedWhileBytesWait()
{
    // The first line reads nothing: 100 001 bytes would take it 10.7 s. Ctrl+C leaves them two.
    Pty full, next;
    StopSignals stop;
    QTimer::singleShot(300, [] { ::raise(SIGINT); });
    QElapsedTimer took;
    took.start();
    CliRun run;
    QTextStream out(&run.out);
    run.status = runCommandLine({"terminal-kontrol-cli", "-j", "1", "-b", "115200", "-p", full.devicePath(), "-p",
                                 next.devicePath(), "command", QString(100000, u'x')},
                                {QCoreApplication::applicationDirPath(), systemNow, &out, &out, &stop});
    QVERIFY2(took.elapsed() < 4000, qPrintable(QString::number(took.elapsed())));
    const QRegularExpression said(QStringLiteral("^%1: PORT Hatası 8018 \\(\\d+ of 100001 bytes did not leave\\)\n"
                                                 "%2: not served: interrupted\n$")
                                      .arg(full.devicePath(), next.devicePath()));
    QVERIFY2(said.match(run.out).hasMatch(), qPrintable(run.out));
    QCOMPARE(run.status, 130);
    QCOMPARE(next.readAll(), QByteArray());
}

void TestCompanions::monitorOfSeveralPorts()
{
    // Each port's lines as they come, after the port; a line in two pieces comes out whole.
    Pty first, second;
    QTimer::singleShot(300, [&] { second.write("B1\r\nB"); });
    QTimer::singleShot(500, [&] { first.write("A1\r\n"); });
    QTimer::singleShot(700, [&] { second.write("2\r\n"); });
    CliRun run = runCli({"-p", first.devicePath(), "-p", second.devicePath(), "monitor", "1"});
    QCOMPARE(run.out,
             QString("%2: B1\r\n%1: A1\r\n%2: B2\r\n%1: OK\n%2: OK\n").arg(first.devicePath(), second.devicePath()));
    // A JSON result keeps the first MiB of what arrived and counts the rest.
    QTimer::singleShot(200, [&] { first.write(QByteArray((1 << 20) + 1000, 'a')); });
    run = runCli({"--json", "-p", first.devicePath(), "monitor", "1.5"});
    const QJsonObject result = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QVERIFY(result["received"].toString().size() == 1 << 20 && result["dropped"].toInt() == 1000);
}

void TestCompanions::closedOutputEndsMonitor()
{
    // | head: the reader goes; the port still closes, lock and all, with a status of its own.
    Pty far;
    QProcess cli, head;
    cli.setStandardOutputProcess(&head);
    head.setStandardOutputFile(QProcess::nullDevice());
    head.start(QStringLiteral("head"), {"-c", "5"});
    cli.start(QStringLiteral(TK_CLI_PATH), {"-p", far.devicePath(), "monitor"});
    QVERIFY(far.waitForRawMode());
    far.write("more than the reader wanted\r\n");
    QVERIFY(head.waitForFinished(5000));
    far.write("and more\r\n");
    QVERIFY(cli.waitForFinished(5000));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 141);
    QVERIFY(!QFile::exists(QStringLiteral("/var/lock/LCK..") + far.devicePath().mid(5).replace(u'/', u'_')));
}

// Served at once, printed in the order given: what arrives on a later port waits for the
// ports before it.
void TestCompanions::severalPorts()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, printed);
    QFETCH(int, status);

    Pty first, second, third;
    const QString ports = m_config.filePath("ports");
    const auto fill = [&](QString text) {
        return text.replace("%1", first.devicePath())
            .replace("%2", second.devicePath())
            .replace("%3", third.devicePath())
            .replace("%4", ports)
            .replace("%5", m_config.path());
    };
    const auto write = [&](const QString &path, const QString &text) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(fill(text).toUtf8()) > 0);
    };
    QVERIFY(QDir().mkpath(m_config.filePath("user/terminal-kontrol")));
    write(m_config.filePath("user/terminal-kontrol/terminal-kontrol.conf"), "[ports]\nCOM12=%1\nCOM3=%2\n");
    write(ports, "# hall\n\n  %3 \r\n#%1\n\t\n");
    for (QString &argument : arguments)
        argument = fill(argument);
    if (arguments.contains("-w")) {
        QTimer::singleShot(300, [&] {
            first.write("\xDE"
                        "A\r\n");
            second.write("B\r\n");
        });
    }
    QElapsedTimer took;
    took.start();
    const CliRun run = runCli(arguments + QStringList{"access"}, systemNow, true);
    // One port after another would wait three seconds.
    QVERIFY2(took.elapsed() < 2500, qPrintable(QString::number(took.elapsed())));
    const QByteArray sent = status == 2 || arguments.contains("--list") ? "" : "@A";
    for (Pty *far : {&first, &second, &third})
        QCOMPARE(hexDump(far->readWithExtras(sent.size())), hexDump(sent));
    const bool json = arguments.contains("--json");
    QString shown = json ? QString() : run.out;
    for (const QString &line : json ? run.out.split(u'\n', Qt::SkipEmptyParts) : QStringList()) {
        QJsonObject port = QJsonDocument::fromJson(line.toUtf8()).object();
        // Each served port waited its second; the missing one did not.
        const double seconds = port.take("seconds").toDouble();
        QVERIFY2((seconds >= 1 && seconds < 2.5) == (port["error"] == 0), qPrintable(line));
        shown += QString::fromUtf8(QJsonDocument(port).toJson(QJsonDocument::Compact)) + u'\n';
    }
    QCOMPARE(shown, fill(printed));
    QCOMPARE(run.status, status);
}

void TestCompanions::simulatorAnswers_data()
{
    QTest::addColumn<QByteArrayList>("bursts");
    QTest::addColumn<QByteArray>("answers");

    const QByteArray card = QByteArray("@P\x03\xE8") + QByteArray(21, '\0');
    QTest::newRow("the clock starts at the computer's")
        << QByteArrayList{"@S"} << information("01.01.2030", "12:00:00", "2");
    QTest::newRow("date and time frames set the clock")
        << QByteArrayList{"@D\x04\x0C\x1A\x05", "@T\x07\x05", "@S"} << information("04.12.2026", "07:05:00", "5");
    QTest::newRow("date and time in one burst, each write apart")
        << QByteArrayList{"@D\x04\x0C\x1A\x05@T\x07\x05@S"} << information("04.12.2026", "07:05:00", "5");
    QTest::newRow("31 February leaves the clock")
        << QByteArrayList{"@D\x1F\x02\x1A\x05@S"} << information("01.01.2030", "12:00:00", "2");
    QTest::newRow("counter assigned, read, zeroed")
        << QByteArrayList{"@I0042@K@Z@K"} << QByteArray("SAYAC 0042\r\nSAYAC 0000\r\n");
    QTest::newRow("counter refuses letters") << QByteArrayList{"@I00ab@K"} << QByteArray("SAYAC 0000\r\n");
    QTest::newRow("a card read and a card frame count")
        << QByteArrayList{"@I0009", "0123", card, "@K"} << QByteArray("SAYAC 0011\r\n");
    QTest::newRow("company name and loaded message")
        << QByteArrayList{"@FAcme", QByteArray("@L\0\1", 4), QByteArray("@WHi\0", 5), "@S"}
        << information("01.01.2030", "12:00:00", "2", "Acme", "0000", "Hi");
    QTest::newRow("company name ends where a command begins")
        << QByteArrayList{"@FAcme@S"} << information("01.01.2030", "12:00:00", "2", "Acme");
    QTest::newRow("message without its load")
        << QByteArrayList{QByteArray("@WHi\0@S", 7)} << information("01.01.2030", "12:00:00", "2");
    QTest::newRow("dial, access, reset, unknown say nothing") << QByteArrayList{"ATDT123\r\n@A@V@X"} << QByteArray();
}

// Each burst arrives at once and is followed by a quiet line.
void TestCompanions::simulatorAnswers()
{
    QFETCH(QByteArrayList, bursts);
    QFETCH(QByteArray, answers);

    const QDateTime host(QDate(2030, 1, 1), QTime(12, 0));
    FrameReader reader;
    SimTerminal terminal;
    QByteArray answered;
    for (const QByteArray &burst : std::as_const(bursts)) {
        for (const QByteArray &frame : reader.feed(burst) + reader.quiet())
            answered += terminal.handle(frame, host).answer;
    }
    QCOMPARE(answered, answers);
}

void TestCompanions::simulatorThroughTheCommandLine_data()
{
    QTest::addColumn<QString>("route");
    QTest::newRow("its line") << "";
    QTest::newRow("behind ser2net, RFC 2217") << "rfc2217";
    QTest::newRow("behind ser2net, raw TCP") << "socket";
}

void TestCompanions::simulatorThroughTheCommandLine()
{
    QFETCH(QString, route);
    QProcess sim;
    sim.start(QStringLiteral(TK_SIM_PATH), {});
    QVERIFY(sim.waitForReadyRead(5000));
    QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
    Ser2net server({line});
    if (!route.isEmpty()) {
        QVERIFY(server.start());
        line = route == u"rfc2217" ? server.rfc2217Url(0) : server.rawUrl(0);
    }
    const QStringList port{QStringLiteral("--port"), line};

    QCOMPARE(runCli(port + QStringList{QStringLiteral("date"), QStringLiteral("2026-12-04")}).status, 0);
    QCOMPARE(runCli(port + QStringList{QStringLiteral("time"), QStringLiteral("07:05")}).status, 0);
    const CliRun info = runCli(port + QStringList{QStringLiteral("-w"), QStringLiteral("1"), QStringLiteral("info")});
    QVERIFY2(info.out.contains(QStringLiteral("TARIH 04.12.2026\r\nSAAT 07:05:")), qPrintable(info.out));
    QVERIFY2(info.out.contains(QStringLiteral("GUN 5\r\n")), qPrintable(info.out));
    const CliRun counter = runCli(
        port
        + QStringList{QStringLiteral("-w"), QStringLiteral("1"), QStringLiteral("--hex"), QStringLiteral("counter-read")});
    QCOMPARE(counter.out, QStringLiteral("53 41 59 41 43 20 30 30 30 30 0d 0a\n") + line + QStringLiteral(": OK\n"));

    if (!route.isEmpty()) {
        // Another user holds the server's line: a date that cannot be written is the port's fault.
        QProcess holder;
        QByteArray logged;
        QVERIFY(waitUntil(
            [&] { // the server may still be parting from the last user
                if (holder.state() == QProcess::NotRunning)
                    holder.start(QStringLiteral(TK_CLI_PATH), port + QStringList{"-w", "30", "command", "HOLD"});
                return (logged += sim.readAll()).contains("<- 40 48 4f 4c 44");
            },
            std::chrono::seconds(20)));
        const CliRun held =
            runCli(port + QStringList{QStringLiteral("--timeout"), QStringLiteral("1"), QStringLiteral("date")});
        QCOMPARE(held.err, line + QStringLiteral(": PORT Hatası 8005\n"));
        QCOMPARE(held.status, 1);
        holder.terminate();
        holder.waitForFinished(10000);
        return;
    }
    // The window on the same line, as the README's run command opens it.
    Module1 module;
    module.programDir = QCoreApplication::applicationDirPath();
    module.SelectedPort = 12;
    const QString link = QDir(module.programDir).filePath(QStringLiteral("COM12"));
    QFile::remove(link);
    QVERIFY(QFile::link(line, link));
    auto *window = new Form1(module);
    window->load();
    window->informationButton->click();
    QVERIFY(waitUntil([&] { return window->console->text().contains(QStringLiteral("SAAT 07:05:")); }));
    window->close();
    QFile::remove(link);

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QVERIFY(sim.readAll().contains("<- 40 44 04 0c 1a 05  date 04.12.2026"));
}

void TestCompanions::simulatorHoldsUnreadAnswersBounded()
{
    QString logged;
    QTextStream log(&logged);
    SimLine line(log);
    for (int i = 0; i < 2100; ++i)
        line.send(QByteArray(1000, 'a'));
    QCOMPARE(line.held(), SimLine::maxHeld);
    QVERIFY(logged.contains("unread: 1000 older bytes dropped"));
    // So is a typed line that never ends.
    TypedLines typed;
    QVERIFY(typed.feed(QByteArray(2100000, 'a')).isEmpty());
    QCOMPARE(typed.held(), SimLine::maxHeld);
    QCOMPARE(typed.feed("b\r\nc"), QByteArrayList{QByteArray(SimLine::maxHeld, 'a') + 'b'});
    QCOMPARE(typed.finish(), QByteArrayList{"c"});
}

// A program that opens the line right after the look for other holders keeps its exclusive mode.
void TestCompanions::simulatorClearsExclusiveModeAlone()
{
    Pty line;
    int opener = -1, on = 0;
    clearExclusiveUnlessHeld(line.slaveFd(), [&] { // the first look misses the opener, the second finds it
        return opener >= 0 || (::ioctl(opener = ::open(qPrintable(line.devicePath()), O_RDWR | O_NOCTTY), TIOCEXCL), false);
    });
    QVERIFY(::ioctl(opener, TIOCGEXCL, &on) == 0 && on);
    ::close(opener);
}

// Typed lines arrive whole; a killed user leaves no exclusive mode behind, as on a real
// device; a killed simulator's COMn leads nowhere, not to the next pseudo-terminal.
void TestCompanions::simulatorTypedThenKilled()
{
    QFile::remove(QFileInfo(QStringLiteral(TK_SIM_PATH)).path() + QStringLiteral("/COM251"));
    const QStringList link{"--link", "COM251"}, access{"-p", "COM251", "access"};
    QProcess sim, user;
    sim.start(QStringLiteral(TK_SIM_PATH), link);
    QVERIFY(waitUntil([&] { return sim.canReadLine(); }));
    const QByteArray device = sim.readLine().trimmed(), x(3000, 'x'), typed = x + "\r\n \xddne\r\ntwo\xfe\r\nhalf\r\n";
    sim.write(x + "\n \xc4\xb0ne\ntwo\xfe\r\n\n \nhal"); // UTF-8 goes out in Windows-1254, other bytes as they are
    QTest::qWait(100);
    sim.write("f\n");
    char arrived[4096] = {};
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    QTest::qWait(200);
    QCOMPARE(hexDump(QByteArray(arrived, std::max(0L, ::read(fd, arrived, sizeof arrived)))), hexDump(typed));
    ::close(fd);
    const auto exclusive = [&] {
        int on = 1, line = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
        return ::ioctl(line, TIOCGEXCL, &on), ::close(line), on != 0;
    };
    user.start(QStringLiteral(TK_CLI_PATH), {"-p", "COM251", "monitor"});
    QVERIFY(waitUntil(exclusive));
    user.kill();
    QVERIFY(waitUntil([&] { return !exclusive(); }));
    QCOMPARE(QProcess::execute(QStringLiteral(TK_CLI_PATH), access), 0);

    sim.kill();
    QVERIFY(sim.waitForFinished(5000));
    std::list<Pty> next(1);
    while (next.size() < 16 && next.back().devicePath() != device)
        next.emplace_back();
    QCOMPARE(QProcess::execute(QStringLiteral(TK_CLI_PATH), access), 1);
    QCOMPARE(next.back().readAll(), QByteArray());
    sim.start(QStringLiteral(TK_SIM_PATH), link);
    QVERIFY(waitUntil([&] { return sim.readAll().contains(" -> /proc/"); }));
    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
}

// As from the package: the program's folder is not the user's to write (nor root's: read-only).
void TestCompanions::simulatorLinksForItsUser()
{
    QTemporaryDir program, own;
    const QByteArray folder = QFile::encodeName(program.path()), why = ::strerror(::geteuid() ? EACCES : EROFS);
    QVERIFY(QFile::copy(QStringLiteral(TK_SIM_PATH), program.filePath("terminal-kontrol-sim")));
    QVERIFY(::geteuid() ? ::chmod(folder, 0555) == 0
                        : ::mount(folder, folder, nullptr, MS_BIND, nullptr) == 0
                              && ::mount(nullptr, folder, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0);
    const auto writable =
        qScopeGuard([&] { ::geteuid() ? ::chmod(folder, 0755) : ::umount(folder), qunsetenv("XDG_RUNTIME_DIR"); });
    QProcess sim;
    qputenv("XDG_RUNTIME_DIR", "");
    sim.start(program.filePath("terminal-kontrol-sim"), {"--link", "COM250"});
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.readAllStandardError(), "not linked: cannot link in " + folder + ": " + why
                                             + "; and XDG_RUNTIME_DIR, under which the user's own links go, is not set\n");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(own.path()));
    sim.start(program.filePath("terminal-kontrol-sim"), {"--link", "COM250"});
    QVERIFY(waitUntil([&] { return sim.peek(1024).contains(QFile::encodeName(own.path()) + "/terminal-kontrol/COM250)"); }));
    QCOMPARE(runCli({"-p", "COM250", "-w", "1", "counter-read"}).out, QStringLiteral("SAYAC 0000\r\nCOM250: OK\n"));
}

QTEST_MAIN(TestCompanions)
#include "tst_companions.moc"
