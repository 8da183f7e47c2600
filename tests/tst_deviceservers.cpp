// Device servers between the program and a line read at its real pace: what the command line
// calls sent is on the line, and what a server that goes or hangs never passed on is counted.
#include "clicommandline.h"
#include "commport.h"
#include "farend.h"
#include "ser2net.h"
#include "stopsignals.h"

#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUrl>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

class TestDeviceServers : public QObject
{
    Q_OBJECT

private slots:
    void deliveredOrCounted_data();
    void deliveredOrCounted();
    void settingsConfirmedFirst_data();
    void settingsConfirmedFirst();
    void refused_data();
    void refused();
    void interruptedWhileConnecting();
};

namespace {

int runCli(const QStringList &arguments, QString &printed, StopSignals *stop = nullptr)
{
    QTextStream out(&printed);
    return runCommandLine(QStringList{"terminal-kontrol-cli"} + arguments,
                          {QCoreApplication::applicationDirPath(), systemNow, &out, &out, stop});
}

} // namespace

void TestDeviceServers::deliveredOrCounted_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("fault");
    QTest::newRow("RFC 2217, twice what the far line holds") << true << 4800 << 8000 << "";
    QTest::newRow("raw TCP, more than the far line holds") << false << 4800 << 6000 << "";
    QTest::newRow("RFC 2217, the server ends") << true << 4800 << 20000 << "ends";
    QTest::newRow("raw TCP, the server ends") << false << 4800 << 20000 << "ends";
    // Beyond what the server's device buffers before the far end reads it.
    QTest::newRow("RFC 2217, the server hangs") << true << 115200 << 60000 << "hangs";
}

void TestDeviceServers::deliveredOrCounted()
{
    QFETCH(bool, rfc2217);
    QFETCH(int, baudRate);
    QFETCH(int, length);
    QFETCH(QString, fault);
    Pty far;
    Ser2net server({far.devicePath()});
    QVERIFY(server.start());
    PacedReader line(far.masterFd(), baudRate / 10);
    if (fault == u"ends")
        QTimer::singleShot(1s, [&] { server.stop(); });
    if (fault == u"hangs")
        QTimer::singleShot(1s, [&] { server.pause(true); });
    // A process of its own: a server may lose what the connection still held when it ends.
    QProcess cli;
    cli.setProcessChannelMode(QProcess::MergedChannels);
    cli.start(TK_CLI_PATH, {"-b", QString::number(baudRate), "-p", rfc2217 ? server.rfc2217Url(0) : server.rawUrl(0),
                            "command", QString(length, u'x')});
    QVERIFY(waitUntil([&] { return cli.state() == QProcess::NotRunning; }, 90s));
    const QString printed = QString::fromUtf8(cli.readAll());
    const int status = cli.exitCode();
    const QByteArray sent = "@" + QByteArray(length, 'x'), arrived = line.finish();
    QVERIFY(sent.startsWith(arrived));
    if (fault.isEmpty()) {
        QCOMPARE(status, 0);
        QCOMPARE(arrived.size(), sent.size());
        return;
    }
    const auto counted =
        QRegularExpression(QStringLiteral("PORT Hatası 8018 \\((\\d+) of %1 bytes").arg(sent.size())).match(printed);
    QVERIFY2(counted.hasMatch(), qPrintable(printed));
    QCOMPARE(status, 1);
    QVERIFY2(arrived.size() + counted.captured(1).toLongLong() >= sent.size(), qPrintable(printed));
}

void TestDeviceServers::settingsConfirmedFirst_data()
{
    QTest::addColumn<bool>("portManager");
    QTest::newRow("ser2net") << false;
    QTest::newRow("pyserial's PortManager") << true;
}

void TestDeviceServers::settingsConfirmedFirst()
{
    QFETCH(bool, portManager);
    Pty far;
    Ser2net ser2net({far.devicePath()});
    QProcess pyserial;
    QString url = ser2net.rfc2217Url(0);
    if (portManager) {
        pyserial.start("/usr/bin/python3", {TK_SUPPORT_DIR "/portmanager.py", far.devicePath()});
        QVERIFY(pyserial.waitForReadyRead(5000));
        url = QStringLiteral("rfc2217://127.0.0.1:%1").arg(pyserial.readLine().trimmed());
    } else {
        QVERIFY(ser2net.start());
    }
    // The rate the line runs at as each command's bytes reach it.
    QList<int> rates;
    QTimer arrivals;
    QObject::connect(&arrivals, &QTimer::timeout, [&] {
        if (!far.readAll(std::chrono::milliseconds(0)).isEmpty())
            rates << far.baudRate();
    });
    arrivals.start(5ms);
    for (int connection = 0; connection < 20; ++connection) {
        QString printed;
        QCOMPARE(runCli({"-b", "9600", "-w", "0.2", "-p", url, "access"}, printed), 0);
    }
    QCOMPARE(rates, QList<int>(20, 9600));
    pyserial.kill();
    pyserial.waitForFinished();
}

void TestDeviceServers::refused_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<int>("heldMilliseconds"); // -1: not at all, 0: all along
    QTest::addColumn<QString>("said");
    QTest::newRow("RFC 2217, held by another user") << true << 0 << "PORT Hatası 8005";
    QTest::newRow("raw TCP, held by another user") << false << 0 << "PORT Hatası 8005";
    QTest::newRow("raw TCP, let go a moment later") << false << 300 << "OK";
    QTest::newRow("a word of gensio's as the host") << false << -1 << "PORT Hatası 8002";
}

void TestDeviceServers::refused()
{
    QFETCH(bool, rfc2217);
    QFETCH(int, heldMilliseconds);
    QFETCH(QString, said);
    Pty far;
    Ser2net server({far.devicePath()});
    QVERIFY(server.start());
    QUrl url(rfc2217 ? server.rfc2217Url(0) : server.rawUrl(0));
    const int other = ::socket(AF_INET, SOCK_STREAM, 0);
    const auto closeOther = qScopeGuard([other] { ::close(other); });
    if (heldMilliseconds >= 0) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(quint16(url.port()));
        QCOMPARE(::connect(other, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
        QVERIFY(far.waitForRawMode());
        if (heldMilliseconds > 0)
            QTimer::singleShot(heldMilliseconds, [other] { ::shutdown(other, SHUT_RDWR); });
    } else {
        url.setHost(QStringLiteral("ipv4"));
    }
    QString printed;
    const int status = runCli({"--timeout", "2", "-p", url.toString(), "access"}, printed);
    QCOMPARE(printed, url.toString() + QStringLiteral(": ") + said + u'\n');
    QCOMPARE(status, said == u"OK" ? 0 : 1);
    QCOMPARE(far.readAll(), said == u"OK" ? QByteArray("@A") : QByteArray());
    if (heldMilliseconds != 0)
        return;
    // What a refusing server says ("Port already in use") is its own, never the terminal's.
    CommPort port(QCoreApplication::applicationDirPath());
    port.setRoute(url.toString());
    port.setConnectTimeout(2s);
    port.openPort();
    QByteArray heard;
    QVERIFY(waitUntil([&] { return !(heard += port.input()).isEmpty() || !port.connecting(); }));
    QCOMPARE(heard, QByteArray());
}

void TestDeviceServers::interruptedWhileConnecting()
{
    DeafServer deaf;
    StopSignals stop;
    QTimer::singleShot(300ms, [] { ::raise(SIGINT); });
    QString printed;
    QCOMPARE(runCli({"--timeout", "60", "-p", deaf.url(), "counter-zero"}, printed, &stop), 130);
    QCOMPARE(printed, deaf.url() + QStringLiteral(": not served: interrupted\n"));
}

QTEST_MAIN(TestDeviceServers)
#include "tst_deviceservers.moc"
