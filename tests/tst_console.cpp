// The received-data console: the widget the operator reads and edits (ReceiveConsole), its
// caret without a screen (ConsoleCursor), and received bytes reaching it through the link.
#include "codepage.h"
#include "consolebuffer.h"
#include "consolecursor.h"
#include "harness.h"
#include "consolemenu.h"
#include "receiveconsole.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        writeSettingsFile(nullptr);
        // The console unhooks a private slot of Qt's by name; a Qt that renamed it says so here.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("No such slot")));
    }

    void trimKeepsViewAndSelection();
    void arrivalsShowOncePerFrame();
    void trickleMovesTheViewInSteps();

    void appendKeepsExactText_data();
    void appendKeepsExactText();
    void appendKeepsCaretAndSelection_data();
    void appendKeepsCaretAndSelection();
    void viewFollowsOnlyAtTheEnd_data();
    void viewFollowsOnlyAtTheEnd();
    void glyphsAsShaped();
    void followingViewShowsWhatAFreshPaintShows();
    void megabyteLine_data();
    void megabyteLine();
    void tabMovesFocus_data();
    void tabMovesFocus();
    void receivedThroughTheLink_data();
    void receivedThroughTheLink();
};

void TestConsole::trimKeepsViewAndSelection()
{
    ReceiveConsole console;
    console.resize(220, 160);
    console.setCapacity(1000);
    QString lines;
    for (int i = 0; i < 100; ++i)
        lines += QStringLiteral("line %1\r\n").arg(i, 3, 10, QChar(u'0'));
    console.setText(lines);
    // An edit of the operator's in what will go, then a selection and a view in what stays.
    console.select(2, 2);
    act(&console, {QStringLiteral("type:X")});
    console.select(701, 754);
    const QString selected = console.selectedText();
    console.verticalScrollBar()->setValue(60);

    console.appendText(QStringView(lines).first(400));
    console.showArrivals();
    QVERIFY(console.text().startsWith(QStringLiteral("line 040")));
    QCOMPARE(console.selectedText(), selected);
    QCOMPARE(console.caretPosition(), console.text().indexOf(QStringLiteral("line 075")) + 3);
    QCOMPARE(console.text().mid(console.buffer().lineStart(console.verticalScrollBar()->value()), 8),
             QStringLiteral("line 060"));

    console.select(5, 5);
    console.appendText(lines);
    QCOMPARE(console.caretPosition(), 0); // it was in the dropped part
    QCOMPARE(console.anchorPosition(), 0);
}

void TestConsole::arrivalsShowOncePerFrame()
{
    ReceiveConsole console;
    console.resize(220, 160);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    console.setText(QStringLiteral("x\r\n").repeated(50));
    QTest::qWait(20);
    // After a quiet frame a line shows at once; those that follow within the frame, at its end.
    QScrollBar *vertical = console.verticalScrollBar();
    const int maximum = vertical->maximum();
    QElapsedTimer frame;
    for (int i = 1; i <= 10; ++i) {
        console.appendText(u"y\r\n");
        QCoreApplication::processEvents();
        if (i == 1)
            frame.start();
        // A loaded machine may already be past the frame; then the later lines may show too.
        if (i == 1 || frame.elapsed() < 10)
            QCOMPARE(vertical->maximum(), maximum + 1);
    }
    QTRY_COMPARE_WITH_TIMEOUT(vertical->maximum(), maximum + 10, 1000);
}

// A view that follows a trickle keeps the newest line in view, but moves only now and then, by
// a third of itself: each move makes the display copy the whole view.
void TestConsole::trickleMovesTheViewInSteps()
{
    ReceiveConsole console;
    console.resize(220, 160);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    console.setText(QStringLiteral("x\r\n").repeated(50));
    QScrollBar *vertical = console.verticalScrollBar();
    vertical->setValue(vertical->maximum());
    int moves = 0;
    connect(vertical, &QScrollBar::valueChanged, &console, [&moves] { ++moves; });
    const int lines = 30;
    for (int i = 0; i < lines; ++i) {
        console.appendText(u"y\r\n");
        console.showArrivals();
        const qsizetype lastRow = console.buffer().lineCount() - 1;
        QCOMPARE(vertical->value(), vertical->maximum());
        QVERIFY2(vertical->value() <= lastRow && lastRow < vertical->value() + vertical->pageStep(),
                 qPrintable(QString::number(i)));
    }
    QVERIFY2(moves <= lines / std::max(1, vertical->pageStep() / 3) + 1 && moves < lines / 2,
             qPrintable(QString::number(moves)));
}

void TestConsole::appendKeepsExactText_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<int>("lastLineStart");

    QList<QByteArray> everyByte;
    QByteArray high;
    for (int b = 0; b < 256; ++b) {
        everyByte.append(QByteArray(1, char(b)));
        if (b >= 0x80)
            high.append(char(b));
    }
    QTest::newRow("CR and LF in separate appends") << QList<QByteArray>{"AB\r", "\nC"} << 4;
    QTest::newRow("break split over three appends") << QList<QByteArray>{"x\r", "\n", "y\r\n", "z"} << 6;
    QTest::newRow("lone CR stays in the line") << QList<QByteArray>{"AB\r", "C"} << 0;
    QTest::newRow("LF then CR is no break") << QList<QByteArray>{"A\n", "\rB"} << 0;
    QTest::newRow("NUL hides nothing") << QList<QByteArray>{QByteArray("A\0B", 3), QByteArray(1, '\0')} << 0;
    QTest::newRow("bytes 0x80 to 0xFF") << QList<QByteArray>{high} << 0;
    QTest::newRow("every byte, one append each") << everyByte << 0;
}

void TestConsole::appendKeepsExactText()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(int, lastLineStart);

    ReceiveConsole console;
    for (const QByteArray &piece : pieces)
        console.appendBytes(piece);
    QCOMPARE(console.text(), codepage::toUnicode(pieces.join()));
    act(&console, {QStringLiteral("Ctrl+End"), QStringLiteral("Home")});
    QCOMPARE(console.caretPosition(), lastLineStart);
}

void TestConsole::appendKeepsCaretAndSelection_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("appended");
    QTest::addColumn<int>("anchorAfter");
    QTest::addColumn<int>("positionAfter");

    QTest::newRow("caret in the middle") << "hello\r\nworld" << 2 << 2 << "!!" << 2 << 2;
    QTest::newRow("selection across a break") << "hello\r\nworld" << 3 << 9 << "more\r\n" << 3 << 9;
    QTest::newRow("backward selection") << "hello\r\nworld" << 9 << 3 << "x" << 9 << 3;
    QTest::newRow("caret at the end stays before the new text") << "abc" << 3 << 3 << "def" << 3 << 3;
    QTest::newRow("selection up to the end") << "abc" << 0 << 3 << "def" << 0 << 3;
    QTest::newRow("caret after a CR stays at the line end when the LF comes") << "ab\r" << 3 << 3 << "\ncd" << 2 << 2;
}

void TestConsole::appendKeepsCaretAndSelection()
{
    QFETCH(QString, text);
    QFETCH(int, anchor);
    QFETCH(int, position);
    QFETCH(QString, appended);
    QFETCH(int, anchorAfter);
    QFETCH(int, positionAfter);

    ReceiveConsole console;
    console.setText(text);
    console.select(anchor, position);
    console.appendText(appended);
    QCOMPARE(console.anchorPosition(), anchorAfter);
    QCOMPARE(console.caretPosition(), positionAfter);
    const qsizetype from = std::min(anchorAfter, positionAfter);
    QCOMPARE(console.selectedText(), console.text().mid(from, std::abs(anchorAfter - positionAfter)));
}

void TestConsole::viewFollowsOnlyAtTheEnd_data()
{
    QTest::addColumn<int>("linesAboveTheEnd");
    QTest::addColumn<bool>("follows");
    QTest::addColumn<bool>("bytes");

    QTest::newRow("at the end it follows") << 0 << true << false;
    QTest::newRow("one line up it stays") << 1 << false << false;
    QTest::newRow("at the top it stays") << -1 << false << false;
    QTest::newRow("at the end it follows, byte view") << 0 << true << true;
    QTest::newRow("well above the end it stays, byte view") << 40 << false << true;
    QTest::newRow("at the top it stays, byte view") << -1 << false << true;
}

void TestConsole::viewFollowsOnlyAtTheEnd()
{
    QFETCH(int, linesAboveTheEnd);
    QFETCH(bool, follows);
    QFETCH(bool, bytes);

    ReceiveConsole console;
    console.resize(220, 160);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QString lines;
    for (int i = 0; i < 100; ++i)
        lines += QStringLiteral("line %1 and enough text to run past the right edge\r\n").arg(i);
    console.setText(lines);
    console.setShowsBytes(bytes);
    QScrollBar *vertical = console.verticalScrollBar();
    QScrollBar *horizontal = console.horizontalScrollBar();
    QVERIFY(vertical->maximum() > 0);
    QVERIFY(horizontal->maximum() > 20);
    vertical->setValue(linesAboveTheEnd < 0 ? 0 : vertical->maximum() - linesAboveTheEnd);
    horizontal->setValue(20);
    const int before = vertical->value();
    const int maximumBefore = vertical->maximum();

    console.appendText(QStringLiteral("new\r\nnew\r\nnew\r\n"));
    QCOMPARE(vertical->maximum(), maximumBefore + 3);
    QCOMPARE(vertical->value(), follows ? vertical->maximum() : before);
    QCOMPARE(horizontal->value(), 20);
    // Switching the view there and back keeps it following, or not.
    console.setShowsBytes(!bytes);
    console.setShowsBytes(bytes);
    QCOMPARE(vertical->value() == vertical->maximum(), follows);
}

// Drawing the stored bytes as looked-up glyphs gives the pixels that shaping the text gives.
void TestConsole::glyphsAsShaped()
{
    const QString text = allCharacters() + QStringLiteral("\r\nBaud Rate : 4800 \u00C7\u0131\u011F\r\n");
    QImage views[2];
    for (const bool wide : {false, true}) {
        ReceiveConsole console;
        console.resize(400, 200);
        // A character the code page lacks, out of view, keeps the text as UTF-16.
        console.setText(text + QStringLiteral("\r\n").repeated(20) + (wide ? u'\u2192' : u'x'));
        console.select(30, 300);
        QCOMPARE(console.buffer().isNarrow(), !wide);
        views[wide] = console.viewport()->grab().toImage();
    }
    QVERIFY(views[0] == views[1]);
}

// A view that follows arrivals moves its pixels and paints only what the move uncovered; the
// window then shows what painting the view afresh gives.
void TestConsole::followingViewShowsWhatAFreshPaintShows()
{
    ReceiveConsole console;
    console.resize(300, 150);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    for (int line = 0; line < 40; ++line) {
        // A long line among short ones scrolls out of view; later the selected line breaks
        // are drawn past their lines' ends.
        const char *rest = line == 20 ? " a longer line than the others\r\n" : line % 3 ? " a line\r\n" : " part ";
        console.appendBytes(QByteArray::number(line) + rest);
        if (line == 30)
            console.select(0, console.text().size());
        QTest::qWait(line % 2 ? 0 : 20);
    }
    // The scroll bar follows at a slower pace than the lines, and slower still on a busy machine.
    const auto shown = [&] {
        return console.screen()->grabWindow(console.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    };
    QTRY_COMPARE_WITH_TIMEOUT(shown(), console.grab().toImage().convertToFormat(QImage::Format_RGB32), 5000);
}

void TestConsole::megabyteLine_data()
{
    QTest::addColumn<bool>("scrolledRight");
    QTest::addColumn<int>("fontPixels");

    QTest::newRow("view at the start of the line") << false << 0;
    QTest::newRow("view far along the line") << true << 0;
    QTest::newRow("line wider than 2^31 pixels, view at its end") << true << 8000;
}

void TestConsole::megabyteLine()
{
    QFETCH(bool, scrolledRight);
    QFETCH(int, fontPixels);

    ReceiveConsole console;
    if (fontPixels > 0) {
        QFont huge = console.font();
        huge.setPixelSize(fontPixels);
        console.setFont(huge);
    }
    console.resize(220, 160);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QByteArray chunk;
    for (int i = 0; i < 4096; ++i)
        chunk.append(char('!' + i % 94));
    const QString piece = codepage::toUnicode(chunk);
    for (int i = 0; i < 256; ++i)
        console.appendText(piece);
    console.showArrivals();

    QCOMPARE(console.text().size(), 256 * 4096);
    QVERIFY(console.text() == piece.repeated(256));
    QCOMPARE(console.caretPosition(), 0);
    QScrollBar *horizontal = console.horizontalScrollBar();
    QVERIFY(horizontal->maximum() > 1000 * console.width());
    horizontal->setValue(scrolledRight ? horizontal->maximum() - 10 * console.width() : 0);
    // A click at the view's right edge lands where the view shows: near the line's end when scrolled there.
    QTest::mouseClick(console.viewport(), Qt::LeftButton, {}, QPoint(console.viewport()->width() - 5, 10));
    QVERIFY2(scrolledRight == (console.caretPosition() > console.text().size() * 99 / 100),
             qPrintable(QString::number(console.caretPosition())));
    if (fontPixels == 0)
        QVERIFY(inkPixels(console) > 100);
}

void TestConsole::tabMovesFocus_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("to");

    QTest::newRow("Tab from the clear button") << "Command15" << int(Qt::Key_Tab) << "Text8";
    QTest::newRow("Tab from the console") << "Text8" << int(Qt::Key_Tab) << "Text1";
    QTest::newRow("Shift+Tab back into the console") << "Text1" << int(Qt::Key_Backtab) << "Text8";
}

void TestConsole::tabMovesFocus()
{
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(QString, to);

    Form1Harness h;
    h.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(h.form));
    auto *start = h.form->findChild<QWidget *>(from);
    start->setFocus();
    const QString before = h.form->console->text();
    QTest::keyClick(start, Qt::Key(key));
    QCOMPARE(QApplication::focusWidget()->objectName(), to);
    QCOMPARE(h.form->console->text(), before);
}

void TestConsole::receivedThroughTheLink_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");

    QByteArray every;
    for (int b = 0; b < 256; ++b)
        every.append(char(b));
    QByteArray flood;
    for (int i = 0; i < 1024 * 1024; ++i)
        flood.append(char((i * 7 + i / 251) % 256));
    QTest::newRow("every byte value") << QList<QByteArray>{every};
    QTest::newRow("CR and LF in separate writes") << QList<QByteArray>{"AB\r", "\nCD\r", "\n"};
    QTest::newRow("a megabyte in order, once") << QList<QByteArray>{flood};
    QTest::newRow("a trickle, then a megabyte") << QList<QByteArray>{"1\r\n", "2\r\n", "3", "\r\n", flood};
}

void TestConsole::receivedThroughTheLink()
{
    QFETCH(QList<QByteArray>, writes);

    Form1Harness h;
    const QString expected = QStringLiteral("Baud Rate : 4800\r\n") + codepage::toUnicode(writes.join());
    for (const QByteArray &bytes : writes) {
        const qsizetype before = h.form->console->text().size();
        h.far.write(bytes);
        // The operator switches the view back and forth while the bytes come.
        QVERIFY(waitUntil([&] {
            h.form->console->setShowsBytes(!h.form->console->showsBytes());
            return h.form->console->text().size() >= before + bytes.size();
        }));
    }
    QVERIFY(h.far.readAll().isEmpty());
    QCOMPARE(h.form->console->text().size(), expected.size());
    QVERIFY(h.form->console->text() == expected);

    // Saved, the console gives back exactly what came.
    QTemporaryDir dir;
    const auto failure = h.form->console->saveTo(dir.filePath(QStringLiteral("saved")));
    QVERIFY2(!failure, qPrintable(failure.value_or(QString())));
    QFile saved(dir.filePath(QStringLiteral("saved")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll() == "Baud Rate : 4800\r\n" + writes.join());
    QCOMPARE(h.form->console->saveTo(dir.filePath(QStringLiteral("no folder/saved"))), QStringLiteral("klasör yok"));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
