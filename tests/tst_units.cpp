// Pure functions of the link and the code page: settings file, settings string,
// COM names, Windows-1254 both ways, and how the console shows its text; and what the link
// takes from inside QSerialPort, so that a Qt upgrade that changes it fails here.
#include "codepage.h"
#include "comname.h"
#include "consoletext.h"
#include "farend.h"
#include "linesettings.h"
#include "portmap.h"
#include "ser2net.h"
#include "serialinsides.h"
#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class TestUnits : public QObject
{
    Q_OBJECT

private slots:
    void settingsFileRules_data();
    void settingsFileRules();
    void settingsFileOnDisk();
    void lineSettings_data();
    void lineSettings();
    void comNames();
    void settingsAndMapsInConfigFolders();
    void codePageEveryByteRoundTrips();
    void codePageTurkishLetters_data();
    void codePageTurkishLetters();
    void codePageUnrepresentable();
    void consoleDisplay_data();
    void consoleDisplay();
    void consoleEveryByteShownDistinctly();
    void serialPortInsides();
};

void TestUnits::settingsFileRules_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("baudRate");

    QTest::newRow("zero length gives the default") << QByteArray() << "4800";
    QTest::newRow("one line") << QByteArray("9600\r\n") << "9600";
    QTest::newRow("one line without line end") << QByteArray("9600") << "9600";
    QTest::newRow("second line wins") << QByteArray("9600\r\n19200\r\n") << "19200";
    QTest::newRow("third line never read") << QByteArray("1200\r\n2400\r\n9600\r\n") << "2400";
    QTest::newRow("empty first line") << QByteArray("\r\n9600\r\n") << "9600";
    QTest::newRow("empty second line") << QByteArray("9600\r\n\r\n") << "";
    QTest::newRow("spaces kept") << QByteArray(" 9600 \r\n") << " 9600 ";
    QTest::newRow("LF line ends") << QByteArray("1200\n2400\n") << "2400";
    QTest::newRow("CR only line ends") << QByteArray("1200\r2400\r") << "2400";
    QTest::newRow("blank lines with LF") << QByteArray("\n\n9600") << "";
    QTest::newRow("long third line ignored") << QByteArray("1200\r\n2400\r\n") + QByteArray(5000, 'x') << "2400";
    QTest::newRow("NUL in the first line, good second line") << QByteArray("\0\r\n9600\r\n", 8) << "9600";
    QTest::newRow("long first line, good second line") << QByteArray(2000, 'x') + "\r\n9600\r\n"
                                                       << "9600";
    QTest::newRow("DOS end-of-file mark ends the file") << QByteArray("9600\r\n\x1a") << "9600";
    QTest::newRow("nothing after the end-of-file mark") << QByteArray("9600\x1a\r\n19200\r\n") << "9600";
    QTest::newRow("UTF-8 byte-order mark skipped") << QByteArray("\xEF\xBB\xBF"
                                                                 "9600\r\n")
                                                   << "9600";
}

void TestUnits::settingsFileRules()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, baudRate);
    QCOMPARE(settingsfile::baudRateText(content), std::optional<QString>(baudRate));
}

void TestUnits::settingsFileOnDisk()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QLatin1String(settingsfile::fileName));
    QCOMPARE(settingsfile::readBaudRateText(path), QStringLiteral("4800")); // absent

    const auto writeFile = [&](const QByteArray &content) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    };
    writeFile("19200\r\n");
    QCOMPARE(settingsfile::readBaudRateText(path), QStringLiteral("19200"));
    writeFile(QByteArray("96\0"
                         "00\r\n",
                         7));
    QCOMPARE(settingsfile::readBaudRateText(path), QString::fromLatin1("96\0"
                                                                       "00",
                                                                       5)); // for the port to refuse
    writeFile(QByteArray(3 * 1024 * 1024, '9'));
    QCOMPARE(settingsfile::readBaudRateText(path), QStringLiteral("4800")); // one huge line
    writeFile("1200\r\n" + QByteArray(2000, '9') + "\r\n");
    QCOMPARE(settingsfile::readBaudRateText(path), QString(2000, u'9')); // long second line, as it stands

    QVERIFY(QFile::remove(path));
    QVERIFY(QDir(dir.path()).mkdir(QLatin1String(settingsfile::fileName)));
    QCOMPARE(settingsfile::readBaudRateText(path), QStringLiteral("4800")); // a directory
}

void TestUnits::lineSettings_data()
{
    QTest::addColumn<QString>("settings");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("baudRate");

    QTest::newRow("default") << "4800,n,8,1" << true << 4800;
    QTest::newRow("blanks around fields") << " 9600 ,n,8,1" << true << 9600;
    QTest::newRow("upper-case parity") << "19200,N,8,1" << true << 19200;
    QTest::newRow("even parity seven bits") << "1200,e,7,2" << true << 1200;
    QTest::newRow("letters") << "abc,n,8,1" << false << 0;
    QTest::newRow("empty baud rate") << ",n,8,1" << false << 0;
    QTest::newRow("baud rate 0") << "0,n,8,1" << false << 0;
    QTest::newRow("negative baud rate") << "-9600,n,8,1" << false << 0;
    QTest::newRow("settings line in the file") << "9600,e,7,2,n,8,1" << false << 0;
    QTest::newRow("unknown parity") << "9600,x,8,1" << false << 0;
    QTest::newRow("nine data bits") << "9600,n,9,1" << false << 0;
    QTest::newRow("three stop bits") << "9600,n,8,3" << false << 0;
    QTest::newRow("overflowing baud rate") << "99999999999,n,8,1" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
}

void TestUnits::lineSettings()
{
    QFETCH(QString, settings);
    QFETCH(bool, valid);
    QFETCH(int, baudRate);
    const auto parsed = parseLineSettings(settings);
    QCOMPARE(parsed.has_value(), valid);
    if (valid)
        QCOMPARE(parsed->baudRate, baudRate);
}

void TestUnits::comNames()
{
    QTemporaryDir dir;
    QCOMPARE(comDevicePath(1, dir.path()), QStringLiteral("/dev/ttyS0"));
    QCOMPARE(comDevicePath(12, dir.path()), QStringLiteral("/dev/ttyS11"));

    QFile target(dir.filePath(QStringLiteral("adapter")));
    QVERIFY(target.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(target.fileName(), dir.filePath(QStringLiteral("COM3"))));
    QCOMPARE(comDevicePath(3, dir.path()), QFileInfo(target.fileName()).canonicalFilePath());
    // COM1 must not pick up the link made for COM10, nor the reverse.
    QVERIFY(QFile::link(target.fileName(), dir.filePath(QStringLiteral("COM10"))));
    QCOMPARE(comDevicePath(1, dir.path()), QStringLiteral("/dev/ttyS0"));

    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), dir.filePath(QStringLiteral("COM4"))));
    QVERIFY(!QFileInfo::exists(comDevicePath(4, dir.path())));
    // A killed simulator's link into /proc, its PID now another process's that holds a line.
    Pty other;
    QVERIFY(QFile::link(QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(other.slaveFd()), dir.filePath("COM5")));
    QVERIFY(!QFileInfo::exists(comDevicePath(5, dir.path())));

    // Without a link beside the program, a present udev link /dev/COMn comes before the on-board port.
    QTemporaryDir dev;
    for (const char *name : {"COM2", "COM3"})
        QVERIFY(QFile::link(target.fileName(), dev.filePath(QLatin1String(name))));
    QVERIFY(QFile::link(dev.filePath(QStringLiteral("gone")), dev.filePath(QStringLiteral("COM6"))));
    QCOMPARE(resolveCom(2, dir.path(), dev.path()).name, dev.filePath(QStringLiteral("COM2")));
    QCOMPARE(resolveCom(3, dir.path(), dev.path()).name, dir.filePath(QStringLiteral("COM3")));
    QCOMPARE(comDevicePath(6, dir.path(), dev.path()), dev.filePath(QStringLiteral("ttyS5")));
    QCOMPARE(comDevicePath(4, dir.path(), dev.path()), dir.filePath(QStringLiteral("gone")));
    UserConfig config("COM2=socket://gate2:1\n"); // the user's own links (in `dev`) before the maps, after beside
    QCOMPARE(resolveCom(2, dir.path(), dir.path(), settingsfile::configFolders(), dev.path()).name, dev.filePath("COM2"));
    QCOMPARE(resolveCom(3, dir.path(), dir.path(), settingsfile::configFolders(), dev.path()).name, dir.filePath("COM3"));
}

void TestUnits::settingsAndMapsInConfigFolders()
{
    QTemporaryDir beside, dev;
    // As the XDG rules say, a relative folder is ignored, as if it were not set (UserConfig sets both anew).
    qputenv("XDG_CONFIG_HOME", "relative");
    qputenv("XDG_CONFIG_DIRS", "also/relative:/abs:");
    QCOMPARE(settingsfile::configFolders(),
             QStringList({QDir::homePath() + "/.config/terminal-kontrol", "/abs/terminal-kontrol"}));
    UserConfig config("COM2=rfc2217://gate2:2217\ncom7 = /dev/serial/by-id/usb-x\nCOM0=x\nCOM256=y\nCOM9=\n"
                      "COM2=socket://second:1\n");
    const QStringList folders = settingsfile::configFolders();
    QCOMPARE(folders, QStringList({config.home.filePath(QStringLiteral("terminal-kontrol")),
                                   config.machine.filePath(QStringLiteral("terminal-kontrol"))}));
    const auto write = [](const QString &folder, const char *name, const QByteArray &content) {
        QDir().mkpath(folder);
        QFile file(QDir(folder).filePath(QLatin1String(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    };

    // The settings file: beside the program, then the user's, then the machine's, used whole.
    const QString besideFile = beside.filePath(QLatin1String(settingsfile::fileName));
    QCOMPARE(settingsfile::locate(beside.path()), besideFile);
    write(folders[1], settingsfile::fileName, "1200\r\n");
    QCOMPARE(settingsfile::locate(beside.path()), QDir(folders[1]).filePath(QLatin1String(settingsfile::fileName)));
    write(folders[0], settingsfile::fileName, "");
    QCOMPARE(settingsfile::readBaudRateText(settingsfile::locate(beside.path())), QStringLiteral("4800"));
    write(beside.path(), settingsfile::fileName, "19200\r\n");
    QCOMPARE(settingsfile::locate(beside.path()), besideFile);

    // COMn: a link beside the program, the user's map, the machine's map, then /dev/COMn.
    write(folders[1], portmap::fileName,
          "[ports]\nCOM2=socket://old:1\nCOM3=socket://gate3:3\n"
          "COM8=socket://gate8:4001\n");
    QVERIFY(QFile::link(besideFile, beside.filePath(QStringLiteral("COM3"))));
    QVERIFY(QFile::link(besideFile, dev.filePath(QStringLiteral("COM8"))));
    const auto device = [&](int n) { return resolveCom(n, beside.path(), dev.path(), folders).device; };
    QCOMPARE(device(2), QStringLiteral("rfc2217://gate2:2217"));
    QCOMPARE(device(3), QFileInfo(besideFile).canonicalFilePath());
    QCOMPARE(device(7), QStringLiteral("/dev/serial/by-id/usb-x"));
    QCOMPARE(device(8), QStringLiteral("socket://gate8:4001"));
    QCOMPARE(device(9), dev.filePath(QStringLiteral("ttyS8")));
    // Another target for the same COMn is another way to it: the reconnection watch keeps to its own.
    QVERIFY(resolveCom(2, beside.path(), dev.path(), folders).name.endsWith(u"COM2=rfc2217://gate2:2217"));
    QCOMPARE(portmap::all(folders).keys(), QList<int>({2, 3, 7, 8}));
}

void TestUnits::codePageEveryByteRoundTrips()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = codepage::toUnicode(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(codepage::fromUnicode(text), all);
    // Undefined bytes come back as their C1 controls, never as a replacement character.
    QCOMPARE(text.at(0x81), QChar(0x81));
    QCOMPARE(text.at(0x80), QChar(0x20AC));
    QVERIFY(!text.contains(QChar::ReplacementCharacter));
    // The toolkit's own decoder agrees on every byte it defines.
    QStringDecoder decoder("windows-1254");
    for (int b = 0; b < 256; ++b) {
        const QString decoded = decoder.decode(all.sliced(b, 1));
        if (decoded != QString(QChar::ReplacementCharacter))
            QCOMPARE(text.at(b), decoded.at(0));
    }
}

void TestUnits::codePageTurkishLetters_data()
{
    QTest::addColumn<QString>("letter");
    QTest::addColumn<int>("byte");

    QTest::newRow("s cedilla") << QStringLiteral("ş") << 0xFE;
    QTest::newRow("g breve") << QStringLiteral("ğ") << 0xF0;
    QTest::newRow("dotless i") << QStringLiteral("ı") << 0xFD;
    QTest::newRow("capital I with dot") << QStringLiteral("İ") << 0xDD;
    QTest::newRow("capital S cedilla") << QStringLiteral("Ş") << 0xDE;
    QTest::newRow("capital G breve") << QStringLiteral("Ğ") << 0xD0;
    QTest::newRow("c cedilla") << QStringLiteral("ç") << 0xE7;
    QTest::newRow("o umlaut") << QStringLiteral("ö") << 0xF6;
    QTest::newRow("u umlaut") << QStringLiteral("ü") << 0xFC;
    QTest::newRow("capital C cedilla") << QStringLiteral("Ç") << 0xC7;
    QTest::newRow("capital O umlaut") << QStringLiteral("Ö") << 0xD6;
    QTest::newRow("capital U umlaut") << QStringLiteral("Ü") << 0xDC;
    QTest::newRow("euro") << QStringLiteral("€") << 0x80;
}

void TestUnits::codePageTurkishLetters()
{
    QFETCH(QString, letter);
    QFETCH(int, byte);
    QCOMPARE(codepage::fromUnicode(letter), QByteArray(1, char(byte)));
    QCOMPARE(codepage::toUnicode(QByteArray(1, char(byte))), letter);
}

void TestUnits::codePageUnrepresentable()
{
    // One byte per typed character, whatever it is, so a frame keeps its length.
    QCOMPARE(codepage::fromUnicode(QStringLiteral("a\u4E2Db")), QByteArray("a?b"));
    QCOMPARE(codepage::fromUnicode(QStringLiteral("x\U0001F600y")), QByteArray("x?y"));
    QCOMPARE(codepage::fromUnicode(QString()), QByteArray());
}

void TestUnits::consoleDisplay_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    QTest::newRow("CR LF is one line break") << "AB\r\nC"
                                             << "AB\nC";
    QTest::newRow("lone CR is visible") << "A\rB" << QStringLiteral("A\u240DB");
    QTest::newRow("lone LF is visible") << "A\nB" << QStringLiteral("A\u240AB");
    QTest::newRow("LF CR is two pictures") << "\n\r" << QStringLiteral("\u240A\u240D");
    QTest::newRow("NUL hides nothing after it") << QString::fromLatin1("A\0B", 3) << QStringLiteral("A\u2400B");
    QTest::newRow("CR CR LF") << "\r\r\n" << QStringLiteral("\u240D\n");
    QTest::newRow("undefined byte as C1") << QStringLiteral("\u0081") << QStringLiteral("\uE081");
    QTest::newRow("Turkish letters unchanged") << QStringLiteral("şğı") << QStringLiteral("şğı");
}

void TestUnits::consoleDisplay()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(consoletext::displayText(text), shown);
}

void TestUnits::consoleEveryByteShownDistinctly()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = codepage::toUnicode(all);
    const QString shown = consoletext::displayText(text);
    QCOMPARE(shown.size(), 256); // no CR LF pair among them: one shown character each
    for (const QChar ch : shown)
        QVERIFY2(ch.isPrint() || ch.category() == QChar::Other_PrivateUse || ch == u' ',
                 qPrintable(QString::number(ch.unicode(), 16)));
    // Distinct pictures: the operator tells every byte value from every other.
    QCOMPARE(QSet<QChar>(shown.begin(), shown.end()).size(), 256);
}

void TestUnits::serialPortInsides()
{
    Pty far;
    QSerialPort port(far.devicePath());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QCOMPARE(port.findChildren<QSocketNotifier *>().size(), 1);
    QSocketNotifier *notifier = serialinsides::readNotifier(port);
    QVERIFY(notifier && notifier->isEnabled());

    // Paused, the port leaves what arrives at the device, for the link to read itself.
    notifier->setEnabled(false);
    const QByteArray waiting("paused\0\r\n\xff", 10);
    far.write(waiting);
    QTest::qWait(50);
    QCOMPARE(port.bytesAvailable(), 0);
    char into[64];
    QCOMPARE(serialinsides::readPast(port, into, sizeof into), waiting.size());
    QCOMPARE(QByteArray(into, waiting.size()), waiting);
    QCOMPARE(serialinsides::readPast(port, into, sizeof into), 0);
    notifier->setEnabled(true);
    far.write("on");
    QVERIFY(waitUntil([&] { return port.bytesAvailable() == 2; }));

    // A write leaves with flush(), before the event loop turns again.
    port.write("@S");
    port.flush();
    QCOMPARE(::read(far.masterFd(), into, sizeof into), 2);

    QVERIFY(!serialinsides::hungUp(port));
    far.hangUp();
    QVERIFY(serialinsides::hungUp(port));
}

QTEST_GUILESS_MAIN(TestUnits)
#include "tst_units.moc"
