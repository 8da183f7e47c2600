// The command line and the simulator: each subcommand's bytes against the window's button
// on the same input, several ports, the simulated terminal's state and answers, and the
// two programs together.
#include "clicommandline.h"
#include "fakeclock.h"
#include "framereader.h"
#include "harness.h"
#include "receiveconsole.h"
#include "simterminal.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QTest>

namespace {

const QDateTime friday(QDate(2026, 12, 4), QTime(10, 20, 30, 950));

struct CliRun
{
    int status = -1;
    QString out;
    QString err;
};

CliRun runCli(const QStringList &arguments, const Clock &clock = systemNow)
{
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    run.status = runCommandLine(QStringList{QStringLiteral("terminal-kontrol-cli")} + arguments,
                                {QCoreApplication::applicationDirPath(), clock, &out, &err, nullptr});
    return run;
}

QByteArray information(const char *date, const char *time, const char *weekday, const QByteArray &company = {},
                       const char *counter = "0000", const QByteArray &message = {})
{
    return QByteArray("TARIH ") + date + "\r\nSAAT " + time + "\r\nGUN " + weekday + "\r\nFIRMA " + company
           + "\r\nSAYAC " + counter + "\r\nMESAJ " + message + "\r\n";
}

} // namespace

class TestCompanions : public QObject
{
    Q_OBJECT

private slots:
    void init() { writeSettingsFile(nullptr); }
    void sameBytesAsTheWindow_data();
    void sameBytesAsTheWindow();
    void severalPortsOneMissing();
    void simulatorAnswers_data();
    void simulatorAnswers();
    void simulatorThroughTheCommandLine();
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
    QTest::newRow("access") << "access" << "" << "Command17" << "" << QByteArray("@A") << 0;
    QTest::newRow("reset") << "reset" << "" << "Command19" << "" << QByteArray("@V") << 0;
    QTest::newRow("information") << "info" << "" << "Command10" << "" << QByteArray("@S") << 0;
    QTest::newRow("counter read") << "counter-read" << "" << "Command11" << "" << QByteArray("@K") << 0;
    QTest::newRow("counter zero") << "counter-zero" << "" << "Command5" << "" << QByteArray("@Z") << 0;
    QTest::newRow("counter 7") << "counter-assign" << "7" << "Command14" << "Text11" << QByteArray("@I0007") << 0;
    QTest::newRow("counter empty") << "counter-assign" << "" << "Command14" << "Text11" << QByteArray("@I0000") << 0;
    QTest::newRow("card read padded") << "card-read" << "12" << "Command4" << "Text1" << QByteArray("0012") << 0;
    QTest::newRow("card read drawn") << "card-read" << "" << "Command4" << "Text1"
                                     << cardnumber::RandomCards().nextText().toLatin1() << 0;
    QTest::newRow("date from the clock") << "date" << "" << "Command2" << "Text2" << QByteArray("@D\x04\x0C\x1A\x05") << 0;
    QTest::newRow("date typed Sunday") << "date" << "2026-12-06" << "Command2" << "Text2" << QByteArray("@D\x06\x0C\x1A\x07") << 0;
    QTest::newRow("date letters") << "date" << "abc" << "Command2" << "Text2" << nothing << 3;
    QTest::newRow("time from the clock") << "time" << "" << "Command3" << "Text7" << QByteArray("@T\x0A\x14") << 0;
    QTest::newRow("time typed") << "time" << "07:05" << "Command3" << "Text7" << QByteArray("@T\x07\x05") << 0;
    QTest::newRow("time 25:00") << "time" << "25:00" << "Command3" << "Text7" << nothing << 4;
    QTest::newRow("company Turkish") << "company" << QStringLiteral("Şeker Ağ") << "Command1" << "Text6"
                                     << QByteArray("@F\xDE" "eker A\xF0") << 0;
    QTest::newRow("message") << "message" << QStringLiteral("İYİ") << "Command6" << "Text4"
                             << QByteArray("@L\0\1@W\xDDY\xDD\0", 10) << 0;
    QTest::newRow("free command") << "command" << "S" << "Command9" << "Text3" << QByteArray("@S") << 0;
    QTest::newRow("dial") << "dial" << "0,2125551234" << "Command18" << "Text10" << QByteArray("ATDT0,2125551234\r\n") << 0;
    QTest::newRow("card frame 1000") << "card-frame" << "1000" << "Label3" << "Text1"
                                     << QByteArray("@P\x03\xE8") + QByteArray(21, '\0') << 0;
    QTest::newRow("card frame 65536") << "card-frame" << "65536" << "Label3" << "Text1" << nothing << 5;
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

    MessageBoxCatcher boxes;
    {
        FakeClock window(friday);
        Form1Harness h(5, window.clock());
        if (!box.isEmpty())
            h.form->findChild<QLineEdit *>(box)->setText(typed);
        h.click(h.form->findChild<QWidget *>(control));
        QCOMPARE(hexDump(h.far.readWithExtras(bytes.size())), hexDump(bytes));
    }
    Pty far;
    FakeClock cli(friday);
    const QStringList argument = box.isEmpty() ? QStringList() : QStringList{typed};
    const CliRun run = runCli(QStringList{QStringLiteral("--port"), far.devicePath(), command} + argument, cli.clock());
    QCOMPARE(hexDump(far.readWithExtras(bytes.size())), hexDump(bytes));
    QCOMPARE(run.status, status);
    // The command line prints what the window's message box says.
    const QStringList shown = status ? QStringList{run.err.section(QStringLiteral(": "), 1).trimmed()} : QStringList();
    QCOMPARE(boxes.texts, shown);
}

void TestCompanions::severalPortsOneMissing()
{
    Pty first;
    Pty last;
    const CliRun run = runCli({QStringLiteral("-p"), first.devicePath(), QStringLiteral("-p"), QStringLiteral("COM200"),
                               QStringLiteral("-p"), last.devicePath(), QStringLiteral("access")});
    QCOMPARE(hexDump(first.readWithExtras(2)), hexDump("@A"));
    QCOMPARE(hexDump(last.readWithExtras(2)), hexDump("@A"));
    QCOMPARE(run.out, first.devicePath() + QStringLiteral(": OK\n") + last.devicePath() + QStringLiteral(": OK\n"));
    QCOMPARE(run.err, QStringLiteral("COM200: PORT Hatası 8002\n"));
    QCOMPARE(run.status, 1);
}

void TestCompanions::simulatorAnswers_data()
{
    QTest::addColumn<QByteArrayList>("bursts");
    QTest::addColumn<QByteArray>("answers");

    const QByteArray card = QByteArray("@P\x03\xE8") + QByteArray(21, '\0');
    QTest::newRow("the clock starts at the computer's") << QByteArrayList{"@S"} << information("01.01.2030", "12:00:00", "2");
    QTest::newRow("date and time frames set the clock")
        << QByteArrayList{"@D\x04\x0C\x1A\x05", "@T\x07\x05", "@S"} << information("04.12.2026", "07:05:00", "5");
    QTest::newRow("date and time in one burst, each write apart")
        << QByteArrayList{"@D\x04\x0C\x1A\x05@T\x07\x05@S"} << information("04.12.2026", "07:05:00", "5");
    QTest::newRow("31 February leaves the clock")
        << QByteArrayList{"@D\x1F\x02\x1A\x05@S"} << information("01.01.2030", "12:00:00", "2");
    QTest::newRow("counter assigned, read, zeroed") << QByteArrayList{"@I0042@K@Z@K"} << QByteArray("SAYAC 0042\r\nSAYAC 0000\r\n");
    QTest::newRow("counter refuses letters") << QByteArrayList{"@I00ab@K"} << QByteArray("SAYAC 0000\r\n");
    QTest::newRow("a card read and a card frame count") << QByteArrayList{"@I0009", "0123", card, "@K"}
                                                        << QByteArray("SAYAC 0011\r\n");
    QTest::newRow("company name and loaded message")
        << QByteArrayList{"@FAcme", QByteArray("@L\0\1", 4), QByteArray("@WHi\0", 5), "@S"}
        << information("01.01.2030", "12:00:00", "2", "Acme", "0000", "Hi");
    QTest::newRow("company name ends where a command begins")
        << QByteArrayList{"@FAcme@S"} << information("01.01.2030", "12:00:00", "2", "Acme");
    QTest::newRow("message without its load") << QByteArrayList{QByteArray("@WHi\0@S", 7)} << information("01.01.2030", "12:00:00", "2");
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

void TestCompanions::simulatorThroughTheCommandLine()
{
    QProcess sim;
    sim.start(QStringLiteral(TK_SIM_PATH), {});
    QVERIFY(sim.waitForReadyRead(5000));
    const QString line = QString::fromLocal8Bit(sim.readLine()).trimmed();
    const QStringList port{QStringLiteral("--port"), line};

    QCOMPARE(runCli(port + QStringList{QStringLiteral("date"), QStringLiteral("2026-12-04")}).status, 0);
    QCOMPARE(runCli(port + QStringList{QStringLiteral("time"), QStringLiteral("07:05")}).status, 0);
    const CliRun info = runCli(port + QStringList{QStringLiteral("-w"), QStringLiteral("1"), QStringLiteral("info")});
    QVERIFY2(info.out.contains(QStringLiteral("TARIH 04.12.2026\r\nSAAT 07:05:")), qPrintable(info.out));
    QVERIFY2(info.out.contains(QStringLiteral("GUN 5\r\n")), qPrintable(info.out));
    const CliRun counter = runCli(port + QStringList{QStringLiteral("-w"), QStringLiteral("1"), QStringLiteral("--hex"),
                                                     QStringLiteral("counter-read")});
    QCOMPARE(counter.out, QStringLiteral("53 41 59 41 43 20 30 30 30 30 0d 0a\n") + line + QStringLiteral(": OK\n"));

    // The window on the same line, as the README's run command opens it.
    Module1 module;
    module.programDir = QCoreApplication::applicationDirPath();
    module.SelectedPort = 12;
    const QString link = QDir(module.programDir).filePath(QStringLiteral("COM12"));
    QFile::remove(link);
    QVERIFY(QFile::link(line, link));
    auto *window = new Form1(module);
    window->load();
    window->Command10->click();
    QVERIFY(waitUntil([&] { return window->Text8->text().contains(QStringLiteral("SAAT 07:05:")); }));
    window->close();
    QFile::remove(link);

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    QVERIFY(sim.readAll().contains("<- 40 44 04 0c 1a 05  date 04.12.2026"));
}

QTEST_MAIN(TestCompanions)
#include "tst_companions.moc"
