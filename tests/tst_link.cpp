// The port link against a real pseudo-terminal: opening with the settings file's baud
// rate, failures that return to the port window, the console filling from the line,
// a device that goes away, and bytes that must reach the line before the port closes.
#include "drainwindow.h"
#include "harness.h"
#include "portdrain.h"
#include "ser2net.h"

#include "codepage.h"
#include "form0.h"
#include "receiveconsole.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>

namespace {

QList<Form0 *> portWindows()
{
    QList<Form0 *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *f = qobject_cast<Form0 *>(w); f && f->isVisible())
            found.append(f);
    }
    return found;
}

void closePortWindows()
{
    for (Form0 *f : portWindows())
        f->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A main window loaded on COMn as the port window's OK loads it.
Form1 *openWindow(Module1 &module, int port)
{
    module.programDir = QCoreApplication::applicationDirPath();
    module.SelectedPort = quint8(port);
    auto *form = new Form1(module);
    form->load();
    form->show();
    return form;
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void settingsFileGivesBaudRate_data();
    void settingsFileGivesBaudRate();
    void failedOpeningReturnsToPortWindow_data();
    void failedOpeningReturnsToPortWindow();
    void portInUse();
    void confirmingAgainStartsAfresh();
    void receivedBytesFillConsole();
    void crAndLfInSeparateTicks();
    void everyByteValueArrives();
    void clearThenReceive();
    void rearmingKeepsPolling();
    void deviceGoesAway();
    void closedLostPortStaysClosed();
    void fullLineIsNoFailure();
    void bytesReachLineWhenClosedAtOnce_data();
    void bytesReachLineWhenClosedAtOnce();

    void closedWindowsBytesShowTheirProgress();
    void stopSignalEndsTheLastWriteOut();

    void deviceServerIsAPort_data();
    void deviceServerIsAPort();
    void deviceServerRestarts();
    void deafServerRefusesAtOnce();
    void unreachableServerReturnsToPortWindow_data();
    void unreachableServerReturnsToPortWindow();
};

void TestLink::init()
{
    writeSettingsFile(nullptr);
}

void TestLink::cleanup()
{
    writeSettingsFile(nullptr);
    closePortWindows();
}

void TestLink::settingsFileGivesBaudRate_data()
{
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("no file") << false << QByteArray() << 4800 << "Baud Rate : 4800\r\n";
    QTest::newRow("empty file") << true << QByteArray() << 4800 << "Baud Rate : 4800\r\n";
    QTest::newRow("one line") << true << QByteArray("9600\r\n") << 9600 << "Baud Rate : 9600\r\n";
    QTest::newRow("second line wins") << true << QByteArray("9600\r\n19200\r\n") << 19200 << "Baud Rate : 19200\r\n";
    QTest::newRow("third line never read")
        << true << QByteArray("1200\r\n2400\r\n9600\r\n") << 2400 << "Baud Rate : 2400\r\n";
    QTest::newRow("spaces kept in the console") << true << QByteArray(" 9600 \r\n") << 9600 << "Baud Rate :  9600 \r\n";
}

void TestLink::settingsFileGivesBaudRate()
{
    QFETCH(bool, hasFile);
    QFETCH(QByteArray, content);
    QFETCH(int, baudRate);
    QFETCH(QString, firstLine);
    if (hasFile)
        writeSettingsFile(&content);

    Form1Harness h;
    QVERIFY(h.form->link().port().isOpen());
    QCOMPARE(h.form->console->text(), firstLine);
    QCOMPARE(h.far.baudRate(), baudRate);
    QVERIFY(h.far.is8N1());
    QVERIFY(h.form->link().isReceiving());
}

void TestLink::failedOpeningReturnsToPortWindow_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("linkPort");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("port does not exist") << QByteArray() << false << "PORT Hatası 8002"
                                         << "Baud Rate : 4800\r\n";
    QTest::newRow("letters for a baud rate") << QByteArray("abc\r\n") << true << "PORT Hatası 380"
                                             << "Baud Rate : abc\r\n";
    QTest::newRow("empty second line") << QByteArray("9600\r\n\r\n") << true << "PORT Hatası 380"
                                       << "Baud Rate : \r\n";
    QTest::newRow("settings line in the file") << QByteArray("9600,e,7,2\r\n") << true << "PORT Hatası 380"
                                               << "Baud Rate : 9600,e,7,2\r\n";
    QTest::newRow("baud rate 0") << QByteArray("0\r\n") << true << "PORT Hatası 380"
                                 << "Baud Rate : 0\r\n";
    QTest::newRow("binary file handed over") << QByteArray("\x01\x02\0\xff", 4) << true << "PORT Hatası 380"
                                             << QString::fromLatin1("Baud Rate : \x01\x02\0\xff\r\n", 18);
}

void TestLink::failedOpeningReturnsToPortWindow()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, linkPort);
    QFETCH(QString, message);
    QFETCH(QString, firstLine);
    if (!settings.isEmpty())
        writeSettingsFile(&settings);

    Pty far;
    Module1 module;
    module.programDir = QCoreApplication::applicationDirPath();
    // COM9 has no link and no /dev/ttyS8 here; COM6 is linked to the pseudo-terminal.
    const int port = linkPort ? 6 : 9;
    if (linkPort)
        far.linkAs(module.programDir, port);
    if (!linkPort && QFileInfo::exists(QStringLiteral("/dev/ttyS8")))
        QSKIP("this machine has a COM9");

    auto *form0 = new Form0(module);
    // The first port window is deleted on closing; its address may come back for the new one.
    const QPointer<Form0> firstPortWindow(form0);
    form0->show();
    form0->portList->setCurrentIndex(port - 1);
    MessageBoxCatcher boxes;
    QPointer<Form1> form1;
    QTest::mouseClick(form0->okButton, Qt::LeftButton);
    QCOMPARE(boxes.texts, QStringList{message});

    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *f = qobject_cast<Form1 *>(w))
            form1 = f;
    }
    QVERIFY(form1);
    QCOMPARE(form1->console->text(), firstLine);
    QVERIFY(!form1->link().port().isOpen());
    QVERIFY(!form1->link().isReceiving());
    QCOMPARE(form1->returnTimer().interval(), 1);

    // The return: a fresh port window with COM1 selected, the main window gone.
    QVERIFY(waitUntil([&] { return !form1; }));
    const QList<Form0 *> windows = portWindows();
    QCOMPARE(windows.size(), 1);
    QVERIFY(!firstPortWindow);
    QCOMPARE(windows.first()->portList->currentText(), QStringLiteral("COM1"));
    QCOMPARE(module.SelectedPort, quint8(1));
}

void TestLink::portInUse()
{
    Form1Harness first;
    Module1 module = first.module;
    MessageBoxCatcher boxes;
    auto *second = new Form1(module);
    second->load();
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("PORT Hatası 8005")});
    QVERIFY(!second->link().port().isOpen());
    QVERIFY(first.form->link().port().isOpen());
    second->show();
    QPointer<Form1> guard(second);
    QVERIFY(waitUntil([&] { return !guard; }));
    QCOMPARE(portWindows().size(), 1);

    // The first window still owns the line.
    first.click(first.form->accessButton);
    QCOMPARE(hexDump(first.far.read(2)), hexDump("@A"));
}

void TestLink::confirmingAgainStartsAfresh()
{
    const QByteArray nineSix("9600\r\n");
    writeSettingsFile(&nineSix);
    {
        Form1Harness h;
        h.far.waitForRawMode();
        h.far.write("old text");
        QVERIFY(waitUntil([&] { return h.form->console->text().endsWith(u"old text"); }));
    }
    const QByteArray one2("1200\r\n");
    writeSettingsFile(&one2);
    Form1Harness again;
    QCOMPARE(again.form->console->text(), QStringLiteral("Baud Rate : 1200\r\n"));
    QCOMPARE(again.far.baudRate(), 1200);
}

void TestLink::receivedBytesFillConsole()
{
    Form1Harness h;
    h.far.write("AB\r\n");
    QVERIFY(waitUntil([&] { return h.form->console->text().size() > 18; }));
    QVERIFY(waitUntil([&] { return h.form->console->text() == QStringLiteral("Baud Rate : 4800\r\nAB\r\n"); }));
}

void TestLink::crAndLfInSeparateTicks()
{
    Form1Harness h;
    h.form->console->setText(QString());
    h.far.write("A\r");
    QVERIFY(waitUntil([&] { return h.form->console->text() == QStringLiteral("A\r"); }));
    h.far.write(QByteArray("\nB\0C\rD", 6));
    QVERIFY(waitUntil([&] { return h.form->console->text().size() == 8; }));
    QCOMPARE(h.form->console->text(), QString::fromLatin1("A\r\nB\0C\rD", 8));
}

void TestLink::everyByteValueArrives()
{
    Form1Harness h;
    h.form->console->setText(QString());
    const QByteArray all = allByteValues();
    h.far.write(all);
    QVERIFY(waitUntil([&] { return h.form->console->text().size() >= 256; }));
    QCOMPARE(codepage::fromUnicode(h.form->console->text()), all);
}

void TestLink::clearThenReceive()
{
    Form1Harness h;
    h.click(h.form->clearButton);
    QCOMPARE(h.form->console->text(), QString());
    h.far.write("X");
    QVERIFY(waitUntil([&] { return !h.form->console->text().isEmpty(); }));
    QCOMPARE(h.form->console->text(), QStringLiteral("X"));
}

void TestLink::rearmingKeepsPolling()
{
    Form1Harness h;
    h.click(h.form->informationButton);
    h.click(h.form->counterReadButton);
    QCOMPARE(hexDump(h.far.read(4)), hexDump("@S@K"));
    QVERIFY(h.form->link().isReceiving());
    h.far.write("12");
    QVERIFY(waitUntil([&] { return h.form->console->text().endsWith(u"\r\n12"); }));
}

void TestLink::deviceGoesAway()
{
    Form1Harness h;
    h.far.write("kept");
    QVERIFY(waitUntil([&] { return h.form->console->text().endsWith(u"kept"); }));
    h.far.hangUp();
    QVERIFY(waitUntil([&] { return !h.form->link().port().isOpen(); }));
    QCOMPARE(h.form->console->text(), QStringLiteral("Baud Rate : 4800\r\nkept"));

    MessageBoxCatcher boxes;
    h.click(h.form->accessButton);
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("PORT Hatası 8018")});
    QVERIFY(h.form->isVisible());
    QVERIFY(h.form->receivedHeading->toolTip().contains(u"COM5"));
    const QColor headingColour(224, 224, 224);
    QVERIFY(h.form->receivedHeading->palette().color(QPalette::Window) != headingColour);

    // Plugged in again: COM5 leads to a device once more, and the window takes it unasked.
    boxes.texts.clear();
    Pty back;
    back.linkAs(h.module.programDir, 5);
    QVERIFY(back.waitForRawMode(std::chrono::seconds(3)));
    QCOMPARE(back.baudRate(), 4800);
    h.click(h.form->accessButton);
    QCOMPARE(hexDump(back.readWithExtras(2)), hexDump("@A"));
    QCOMPARE(boxes.texts, QStringList());
    QCOMPARE(h.form->receivedHeading->toolTip(), QString());
    QCOMPARE(h.form->receivedHeading->palette().color(QPalette::Window), headingColour);
    back.write("again");
    QVERIFY(waitUntil([&] { return h.form->console->text() == u"Baud Rate : 4800\r\nkeptagain"; }));
}

void TestLink::closedLostPortStaysClosed()
{
    // Closed while its device is away: the device's return opens nothing.
    Form1Harness h;
    h.far.hangUp();
    QVERIFY(waitUntil([&] { return !h.form->link().port().isOpen(); }));
    h.form->link().close();
    Pty back;
    back.linkAs(h.module.programDir, 5);
    QTest::qWait(1500);
    QVERIFY(!back.inRawMode() && !h.form->link().port().isOpen());
}

void TestLink::fullLineIsNoFailure()
{
    // The far end reads nothing for a while, as a slow line does: the frame waits, whole.
    Form1Harness h;
    MessageBoxCatcher boxes;
    const QByteArray frame = "@" + QByteArray(30000, 'x');
    h.form->commandBox->setText(QString::fromLatin1(frame.sliced(1)));
    h.click(h.form->commandButton);
    QTest::qWait(300);
    h.click(h.form->accessButton);
    QCOMPARE(h.far.read(frame.size() + 2), frame + "@A");
    QVERIFY(h.form->link().port().isOpen());
    QCOMPARE(boxes.texts, QStringList());
}

void TestLink::bytesReachLineWhenClosedAtOnce_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("a short frame") << 400;
    QTest::newRow("more than the line holds") << 30000;
}

void TestLink::bytesReachLineWhenClosedAtOnce()
{
    QFETCH(int, length);
    Form1Harness h;
    h.form->commandBox->setText(QString(length, u'x'));
    h.click(h.form->commandButton);
    h.form->close();
    QCOMPARE(h.far.read(length + 1).size(), length + 1);
}

void TestLink::closedWindowsBytesShowTheirProgress()
{
    // 30 000 bytes at 4800 baud to a line that reads nothing: a minute after the window closed.
    Form1Harness h;
    const QString lock = QStringLiteral("/var/lock/LCK..") + h.far.devicePath().mid(5).replace(u'/', u'_');
    h.form->commandBox->setText(QString(30000, u'x'));
    h.click(h.form->commandButton);
    h.form->close();
    QString shown;
    QTimer::singleShot(1500, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->objectName() == u"DrainWindow" && w->isVisible()) {
                shown = w->findChild<QLabel *>()->text();
                QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("stopSending")), Qt::LeftButton);
            }
        }
    });
    QElapsedTimer took;
    took.start();
    QVERIFY(finishSending() > 0);
    QVERIFY2(took.elapsed() < 3000, qPrintable(QString::number(took.elapsed())));
    QVERIFY2(shown.contains(QRegularExpression(QStringLiteral("\\d+ bayt kaldı, en fazla \\d+ saniye"))), qPrintable(shown));
    QVERIFY(!QFile::exists(lock));

    // The line goes away meanwhile: the box that says so looks as every other box.
    Form1Harness gone;
    gone.form->commandBox->setText(QString(30000, u'x'));
    gone.click(gone.form->commandButton);
    gone.form->close();
    QTimer::singleShot(300, [&] { gone.far.hangUp(); });
    MessageBoxCatcher boxes;
    QVERIFY(finishSending() > 0);
    QVERIFY(boxes.titles == QStringList{QStringLiteral("Terminal Kontrol")} && boxes.buttonIcons == 0);
}

void TestLink::stopSignalEndsTheLastWriteOut()
{
    // A lost display leaves no event loop: the exit handler writes out blocked, and a signal
    // must still end that wait with the port closed. Without that, SIGTERM kills this test.
    Form1Harness h;
    const QString lock = QStringLiteral("/var/lock/LCK..") + h.far.devicePath().mid(5).replace(u'/', u'_');
    h.form->commandBox->setText(QString(30000, u'x'));
    h.click(h.form->commandButton);
    std::thread([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(::getpid(), SIGTERM);
    }).detach();
    QElapsedTimer took;
    took.start();
    CommPort::closeAllNow();
    QVERIFY2(took.elapsed() < 2000, qPrintable(QString::number(took.elapsed())));
    QVERIFY(!h.form->link().port().isOpen());
    QVERIFY(!QFile::exists(lock));
}

void TestLink::deviceServerIsAPort_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::addColumn<int>("baudRate");
    QTest::newRow("RFC 2217 sets the settings file's rate") << true << 9600;
    QTest::newRow("raw TCP keeps the server's rate") << false << 4800;
}

void TestLink::deviceServerIsAPort()
{
    QFETCH(bool, rfc2217);
    QFETCH(int, baudRate);
    Pty far;
    Ser2net server({far.devicePath()});
    QVERIFY(server.start());
    const QString url = rfc2217 ? server.rfc2217Url(0) : server.rawUrl(0);
    UserConfig config("COM4=" + url.toLatin1() + "\n", "9600\r\n");
    MessageBoxCatcher boxes;
    Module1 module;
    QPointer<Form1> form = openWindow(module, 4);
    CommPort &port = form->link().port();
    QVERIFY(waitUntil([&] { return !port.connecting(); }));
    QVERIFY(port.isOpen());
    QCOMPARE(form->console->text(), QStringLiteral("Baud Rate : 9600\r\n"));
    QVERIFY(far.waitForRawMode());
    QVERIFY(waitUntil([&] { return far.baudRate() == baudRate; }));
    QVERIFY(far.is8N1());

    form->console->setText(QString());
    form->link().send(allByteValues());
    QCOMPARE(hexDump(far.readWithExtras(256)), hexDump(allByteValues()));
    far.write(allByteValues());
    QVERIFY(waitUntil([&] { return form->console->text().size() >= 256; }));
    QCOMPARE(codepage::fromUnicode(form->console->text()), allByteValues());
    QCOMPARE(boxes.texts, QStringList());
    // Closed at once after more than the far line holds: every byte still reaches it.
    PacedReader line(far.masterFd(), baudRate / 10);
    if (rfc2217)
        form->link().send(QByteArray(6000, 'x'));
    form->close();
    QCOMPARE(PortDrain::waitForAll(), 0);
    QCOMPARE(line.finish(), rfc2217 ? QByteArray(6000, 'x') : QByteArray());
}

void TestLink::deviceServerRestarts()
{
    Pty far;
    Ser2net server({far.devicePath()});
    QVERIFY(server.start());
    UserConfig config("COM4=" + server.rfc2217Url(0).toLatin1() + "\n");
    Module1 module;
    QPointer<Form1> form = openWindow(module, 4);
    CommPort &port = form->link().port();
    QVERIFY(waitUntil([&] { return port.isOpen() && !port.connecting(); }));
    QVERIFY(far.waitForRawMode());

    // The server goes: a lost device, as an unplugged adapter is.
    server.stop();
    QVERIFY(waitUntil([&] { return !port.isOpen(); }));
    MessageBoxCatcher boxes;
    QTest::mouseClick(form->accessButton, Qt::LeftButton);
    QCOMPARE(boxes.texts, QStringList{QStringLiteral("PORT Hatası 8018")});
    QVERIFY(form->receivedHeading->toolTip().contains(u"COM4"));

    // Back on the same address: the window reconnects by itself, and what failed is not sent late.
    boxes.texts.clear();
    QVERIFY(server.start());
    QVERIFY(waitUntil([&] { return port.isOpen() && !port.connecting(); }, std::chrono::seconds(5)));
    QCOMPARE(form->receivedHeading->toolTip(), QString());
    QTest::mouseClick(form->informationButton, Qt::LeftButton);
    QCOMPARE(hexDump(far.readWithExtras(2)), hexDump("@S"));
    far.write("again");
    QVERIFY(waitUntil([&] { return form->console->text().endsWith(u"again"); }));
    QCOMPARE(boxes.texts, QStringList());
    form->close();
}

void TestLink::deafServerRefusesAtOnce()
{
    // Its port answers nothing: each command says so at once, none waits for a connection.
    DeafServer deaf;
    UserConfig config("COM9=" + deaf.url().toLatin1() + "\n");
    Module1 module;
    QPointer<Form1> form = openWindow(module, 9);
    MessageBoxCatcher boxes;
    for (int click = 0; click < 3; ++click)
        QTest::mouseClick(form->informationButton, Qt::LeftButton);
    QCOMPARE(boxes.texts, QStringList(3, QStringLiteral("PORT Hatası 8018")));
    QVERIFY(form->link().port().connecting());
    form->close();
}

void TestLink::unreachableServerReturnsToPortWindow_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing listens") << QStringLiteral("socket://127.0.0.1:%1").arg(Ser2net::closedPort())
                                     << "PORT Hatası 8002";
    QTest::newRow("name does not resolve") << "rfc2217://no-such-host.invalid:2217"
                                           << "PORT Hatası 8002";
    QTest::newRow("a host that would add connection options") << "rfc2217://a,b:2217"
                                                              << "PORT Hatası 8002";
}

void TestLink::unreachableServerReturnsToPortWindow()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    UserConfig config("COM9=" + target.toLatin1() + "\n");
    MessageBoxCatcher boxes;
    Module1 module;
    QPointer<Form1> form = openWindow(module, 9);
    // A command while it connects: the failure may come while that command's box is open.
    const bool connecting = form && form->link().port().connecting();
    if (connecting)
        QTest::mouseClick(form->informationButton, Qt::LeftButton);
    QVERIFY(waitUntil([&] { return boxes.texts.size() == 1 + connecting; }, std::chrono::seconds(8)));
    QVERIFY2(boxes.texts.contains(message), qPrintable(boxes.texts.join(u'|')));
    // The failed opening's way back: a fresh port window, the main window gone.
    QVERIFY(waitUntil([&] { return !form && portWindows().size() == 1; }));
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"
