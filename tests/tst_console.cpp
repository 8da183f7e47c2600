// The received-data console: its line index (ConsoleBuffer), the widget the operator reads and
// edits (ReceiveConsole), and received bytes reaching it through the link.
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

namespace {

// Widths that differ between characters, so that a position found by the wrong sum shows.
double testAdvance(QChar ch)
{
    return 1 + ch.unicode() % 3;
}

QString allBytes()
{
    QByteArray bytes;
    for (int b = 0; b < 256; ++b)
        bytes.append(char(b));
    return codepage::toUnicode(bytes);
}

// 700 characters: a line that carries a few marks.
QString longLine()
{
    QString line;
    for (int i = 0; i < 700; ++i)
        line.append(QChar(u'a' + i % 26));
    return line;
}

// What is wrong with `buffer` as the index of `text`, judged by a plain split at CR LF.
QString indexFault(const ConsoleBuffer &buffer, const QString &text)
{
    if (buffer.text() != text)
        return QStringLiteral("text differs");
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    if (buffer.lineCount() != lines.size())
        return QStringLiteral("%1 lines, expected %2").arg(buffer.lineCount()).arg(lines.size());
    qsizetype start = 0;
    double widest = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString &line = lines[i];
        if (buffer.lineStart(i) != start || buffer.lineEnd(i) != start + line.size())
            return QStringLiteral("line %1 spans %2..%3, expected %4..%5")
                .arg(i).arg(buffer.lineStart(i)).arg(buffer.lineEnd(i)).arg(start).arg(start + line.size());
        double x = 0;
        for (qsizetype k = 0; k <= line.size(); ++k) {
            if (buffer.x(i, start + k) != x)
                return QStringLiteral("line %1 position %2 at x %3, expected %4")
                    .arg(i).arg(k).arg(buffer.x(i, start + k)).arg(x);
            if (buffer.lineOf(start + k) != i)
                return QStringLiteral("position %1 on line %2, expected %3")
                    .arg(start + k).arg(buffer.lineOf(start + k)).arg(i);
            if (k < line.size())
                x += testAdvance(line[k]);
        }
        const qsizetype betweenCrAndLf = start + line.size() + 1;
        if (i + 1 < lines.size() && (!buffer.insideBreak(betweenCrAndLf) || buffer.lineOf(betweenCrAndLf) != i))
            return QStringLiteral("the break after line %1 is not its own").arg(i);
        if (buffer.lineWidth(i) != x)
            return QStringLiteral("line %1 is %2 wide, expected %3").arg(i).arg(buffer.lineWidth(i)).arg(x);
        widest = std::max(widest, x);
        start += line.size() + 2;
    }
    if (buffer.widestLine() != widest)
        return QStringLiteral("widest line %1, expected %2").arg(buffer.widestLine()).arg(widest);
    return {};
}

void textRows()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << QString();
    QTest::newRow("one line") << QStringLiteral("abc");
    QTest::newRow("CR LF breaks") << QStringLiteral("ab\r\ncd");
    QTest::newRow("ends with a break") << QStringLiteral("ab\r\n");
    QTest::newRow("only breaks") << QStringLiteral("\r\n\r\n");
    QTest::newRow("lone CR and LF stay in the line") << QStringLiteral("a\rb\nc");
    QTest::newRow("LF CR is no break") << QStringLiteral("a\n\rb");
    QTest::newRow("CR CR LF") << QStringLiteral("\r\r\n");
    QTest::newRow("CR LF LF") << QStringLiteral("\r\n\n");
    QTest::newRow("widest line ends in CR then gets its LF") << QStringLiteral("wwwwww\r\nab");
    QTest::newRow("long line past several marks") << longLine() + QStringLiteral("\r\nx\r") + longLine();
    QTest::newRow("every byte value") << allBytes();
    QTest::newRow("characters the code page lacks") << QStringLiteral("ab\r\n\u2192\r\nc\u4E2D") + allBytes();
}

// Runs the actions of an operator on `widget`: "type:" and text, or a key such as "Shift+Left".
void act(QWidget *widget, const QStringList &actions)
{
    for (const QString &action : actions) {
        if (action.startsWith(QLatin1String("type:"))) {
            // As a keyboard layout sends them: the character as the key's text.
            for (const QChar ch : action.mid(5))
                QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        } else {
            const QKeyCombination key = QKeySequence::fromString(action)[0];
            QTest::keyClick(widget, key.key(), key.keyboardModifiers());
        }
    }
}

// Pixels of the view that are not its background.
int inkPixels(ReceiveConsole &console)
{
    const QImage image = console.viewport()->grab().toImage();
    const QRgb background = console.palette().color(QPalette::Base).rgb();
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ink += image.pixel(x, y) != background;
    }
    return ink;
}

} // namespace

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

    void bufferLines_data() { textRows(); }
    void bufferLines();
    void bufferAppendInPieces_data() { textRows(); }
    void bufferAppendInPieces();
    void bufferReplace_data();
    void bufferReplace();
    void bufferPositions_data();
    void bufferPositions();
    void bufferNewAdvance();
    void bufferTrim_data();
    void bufferTrim();
    void bufferArrivalTimes();
    void trimKeepsViewAndSelection();
    void arrivalsShowOncePerFrame();
    void trickleMovesTheViewInSteps();

    void appendKeepsExactText_data();
    void appendKeepsExactText();
    void appendKeepsCaretAndSelection_data();
    void appendKeepsCaretAndSelection();
    void viewFollowsOnlyAtTheEnd_data();
    void viewFollowsOnlyAtTheEnd();
    void operatorEdits_data();
    void operatorEdits();
    void operatorEditsWithoutAScreen_data() { operatorEdits_data(); }
    void operatorEditsWithoutAScreen();
    void copyCutPaste_data();
    void copyCutPaste();
    void mouseSelection();
    void glyphsAsShaped();
    void followingViewShowsWhatAFreshPaintShows();
    void byteView_data();
    void byteView();
    void byteViewKeys();
    void megabyteLine_data();
    void megabyteLine();
    void tabMovesFocus_data();
    void tabMovesFocus();
    void receivedThroughTheLink_data();
    void receivedThroughTheLink();
    void refusals();
};

void TestConsole::bufferLines()
{
    QFETCH(QString, text);
    ConsoleBuffer buffer(testAdvance);
    buffer.setText(text);
    const QString fault = indexFault(buffer, text);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestConsole::bufferAppendInPieces()
{
    QFETCH(QString, text);
    for (qsizetype split = 0; split <= text.size(); ++split) {
        ConsoleBuffer buffer(testAdvance);
        buffer.setText(text.left(split));
        buffer.append(text.mid(split));
        const QString fault = indexFault(buffer, text);
        QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("split at %1: ").arg(split) + fault));
    }
    ConsoleBuffer byCharacter(testAdvance);
    for (const QChar ch : text)
        byCharacter.append(QStringView(&ch, 1));
    const QString fault = indexFault(byCharacter, text);
    QVERIFY2(fault.isEmpty(), qPrintable(QStringLiteral("one character at a time: ") + fault));
}

void TestConsole::bufferReplace_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("with");

    const QString two = longLine() + QStringLiteral("\r\n") + longLine();
    QTest::newRow("type into a line") << "abc" << 1 << 0 << "X";
    QTest::newRow("insert a break") << "abc" << 1 << 0 << "\r\n";
    QTest::newRow("LF after a lone CR joins them") << "a\rb" << 2 << 1 << "\n";
    QTest::newRow("insert between CR and LF splits the break") << "a\r\nb" << 2 << 0 << "X";
    QTest::newRow("delete between CR and LF joins them") << "a\rX\nb" << 2 << 1 << "";
    QTest::newRow("delete a whole break") << "a\r\nb" << 1 << 2 << "";
    QTest::newRow("delete the LF of a break") << "a\r\nb" << 2 << 1 << "";
    QTest::newRow("delete the CR of a break") << "a\r\nb" << 1 << 1 << "";
    QTest::newRow("replace across lines") << "ab\r\ncd\r\nef" << 1 << 6 << "Z\r\nY";
    QTest::newRow("break at the start") << "ab\r\ncd" << 0 << 0 << "\r\n";
    QTest::newRow("clear all") << "ab\r\ncd" << 0 << 6 << "";
    QTest::newRow("shrink the widest line") << "wwwwwwww\r\nab" << 0 << 6 << "";
    QTest::newRow("middle of a long line") << longLine() << 300 << 5 << "xyz";
    QTest::newRow("break in the middle of a long line") << longLine() << 400 << 0 << "\r\n";
    QTest::newRow("join two long lines") << two << 700 << 2 << "";
    QTest::newRow("LF for a long line ending in CR") << longLine() + "\r" << 701 << 0 << "\n";
    QTest::newRow("lines after the edit shift") << "a\r\nb\r\nc\r\nd" << 0 << 1 << "long text";
    QTest::newRow("a character the code page lacks") << "a\r\nb\u011F" << 2 << 0 << "\u2192";
    QTest::newRow("a long line after the edit keeps its marks") << "ab\r\n" + longLine() << 0 << 1 << "xyz";
}

void TestConsole::bufferReplace()
{
    QFETCH(QString, text);
    QFETCH(int, position);
    QFETCH(int, length);
    QFETCH(QString, with);

    ConsoleBuffer buffer(testAdvance);
    buffer.setText(text);
    buffer.replace(position, length, with);
    const QString fault = indexFault(buffer, text.left(position) + with + text.mid(position + length));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestConsole::bufferPositions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line");

    QTest::newRow("short line") << "abc" << 0;
    QTest::newRow("long line past several marks") << longLine() << 0;
    QTest::newRow("second line after a break") << "xy\r\n" + longLine() + "\r\nz" << 1;
    QTest::newRow("empty last line") << "ab\r\n" << 1;
}

void TestConsole::bufferPositions()
{
    QFETCH(QString, text);
    QFETCH(int, line);

    ConsoleBuffer buffer(testAdvance);
    buffer.setText(text);
    const qsizetype start = buffer.lineStart(line);
    const qsizetype end = buffer.lineEnd(line);
    std::vector<double> prefix{0};
    for (qsizetype p = start; p < end; ++p)
        prefix.push_back(prefix.back() + testAdvance(text[p]));

    for (double x = -2; x <= prefix.back() + 3; x += 0.5) {
        qsizetype before = 0;
        while (before + 1 < qsizetype(prefix.size()) && prefix[size_t(before + 1)] <= x)
            ++before;
        qsizetype nearest = before;
        if (before < end - start && x - prefix[size_t(before)] > testAdvance(text[start + before]) / 2)
            ++nearest;
        QCOMPARE(buffer.positionBefore(line, x), start + before);
        QCOMPARE(buffer.positionAt(line, x), start + nearest);
    }
}

void TestConsole::bufferNewAdvance()
{
    const QString text = longLine() + QStringLiteral("\r\nab");
    ConsoleBuffer buffer([](QChar) { return 7.0; });
    buffer.setText(text);
    QCOMPARE(buffer.widestLine(), 7.0 * 700);
    buffer.setAdvance(testAdvance);
    const QString fault = indexFault(buffer, text);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestConsole::bufferTrim_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QString>("kept");

    QTest::newRow("whole oldest lines go") << "aaaa\r\nbbbb\r\ncccc\r\n" << 8 << "bbbb\r\ncccc\r\n";
    QTest::newRow("a line that is partly needed stays") << "aaaa\r\nbbbb\r\ncc" << 9 << "aaaa\r\nbbbb\r\ncc";
    QTest::newRow("one long line loses whole mark spans") << longLine() << 300 << longLine().mid(256);
    QTest::newRow("a long first line loses spans, then lines") << longLine() + "\r\nab" << 300 << longLine().mid(256) + "\r\nab";
    QTest::newRow("a long line after the dropped ones keeps its marks") << "aaaa\r\n" + longLine() << 600 << longLine();
}

void TestConsole::bufferTrim()
{
    QFETCH(QString, text);
    QFETCH(int, capacity);
    QFETCH(QString, kept);
    ConsoleBuffer buffer(testAdvance);
    buffer.setCapacity(capacity);
    const ConsoleBuffer::Dropped dropped = buffer.append(text);
    const QString fault = indexFault(buffer, kept);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QCOMPARE(dropped.characters, text.size() - kept.size());
    QCOMPARE(dropped.lines, text.left(dropped.characters).count(QStringLiteral("\r\n")));
}

void TestConsole::bufferArrivalTimes()
{
    int second = 1;
    ConsoleBuffer buffer(testAdvance);
    buffer.setClock([&] { return QTime(10, 0, second); });
    const auto times = [&] {
        QStringList seen;
        for (qsizetype line = 0; line < buffer.lineCount(); ++line)
            seen.append(buffer.lineArrival(line).toString(QStringLiteral("s")));
        return seen.join(u' ');
    };
    buffer.setText(u"");
    QCOMPARE(times(), QStringLiteral(""));
    const QList<std::pair<int, QByteArray>> arrivals{{2, "ab\r"}, {3, "\nc"}, {4, "\r\n"}, {5, "d"}, {6, "e\r\nf\r\n"}};
    for (const auto &[at, bytes] : arrivals) {
        second = at;
        buffer.appendBytes(bytes);
    }
    QCOMPARE(times(), QStringLiteral("2 3 5 6 "));
    second = 7;
    buffer.replace(1, 0, u"\r\n"); // the operator breaks the first line
    QCOMPARE(times(), QStringLiteral("2 7 3 5 6 "));
    buffer.setCapacity(8);
    buffer.appendBytes("ggg"); // the oldest lines go, with their times
    QCOMPARE(buffer.text(), QStringLiteral("de\r\nf\r\nggg"));
    QCOMPARE(times(), QStringLiteral("5 6 7"));
}

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
    QCOMPARE(console.text().mid(console.buffer().lineStart(console.verticalScrollBar()->value()), 8), QStringLiteral("line 060"));

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
        QVERIFY2(vertical->value() <= lastRow && lastRow < vertical->value() + vertical->pageStep(), qPrintable(QString::number(i)));
    }
    QVERIFY2(moves <= lines / std::max(1, vertical->pageStep() / 3) + 1 && moves < lines / 2, qPrintable(QString::number(moves)));
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
    const QString text = allBytes() + QStringLiteral("\r\nBaud Rate : 4800 \u00C7\u0131\u011F\r\n");
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
    // The scroll bar follows at a slower pace than the lines.
    QTest::qWait(200);
    const QImage shown = console.screen()->grabWindow(console.winId()).toImage();
    QCOMPARE(shown.convertToFormat(QImage::Format_RGB32), console.grab().toImage().convertToFormat(QImage::Format_RGB32));
}

void TestConsole::operatorEdits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("caretAfter");

    QTest::newRow("typing inserts at the caret") << "ac" << 1 << QStringList{"type:b"} << "abc" << 2;
    QTest::newRow("typing Turkish letters") << "a" << 1 << QStringList{"type:\u015F\u011F\u0131"} << "a\u015F\u011F\u0131" << 4;
    QTest::newRow("Backspace deletes one character") << "abc" << 2 << QStringList{"Backspace"} << "ac" << 1;
    QTest::newRow("Backspace at the start does nothing") << "abc" << 0 << QStringList{"Backspace"} << "abc" << 0;
    QTest::newRow("Backspace at a line start joins the lines") << "ab\r\ncd" << 4 << QStringList{"Backspace"} << "abcd" << 2;
    QTest::newRow("Backspace after a lone LF deletes only it") << "a\r\n\nb" << 4 << QStringList{"Backspace"} << "a\r\nb" << 3;
    QTest::newRow("Delete at a line end joins the lines") << "ab\r\ncd" << 2 << QStringList{"Del"} << "abcd" << 2;
    QTest::newRow("Enter inserts CR LF") << "abcd" << 2 << QStringList{"Return"} << "ab\r\ncd" << 4;
    QTest::newRow("typing replaces a selection") << "abcd" << 1 << QStringList{"Shift+Right", "Shift+Right", "type:X"} << "aXd" << 2;
    QTest::newRow("Backspace removes a selection") << "ab\r\ncd" << 1 << QStringList{"Shift+Down", "Backspace"} << "ad" << 1;
    QTest::newRow("Right steps over a line break") << "ab\r\ncd" << 2 << QStringList{"Right", "type:X"} << "ab\r\nXcd" << 5;
    QTest::newRow("Left steps over a line break") << "ab\r\ncd" << 4 << QStringList{"Left", "type:X"} << "abX\r\ncd" << 3;
    QTest::newRow("Home and End") << "ab\r\ncd" << 5 << QStringList{"Home", "type:<", "End", "type:>"} << "ab\r\n<cd>" << 8;
    QTest::newRow("Down keeps the column across a short line")
        << "abcd\r\nx\r\nabcd" << 3 << QStringList{"Down", "Down", "type:|"} << "abcd\r\nx\r\nabc|d" << 13;
    QTest::newRow("Ctrl+A selects all") << "ab\r\ncd" << 1 << QStringList{"Ctrl+A", "type:z"} << "z" << 1;
    QTest::newRow("Ctrl+Home and Ctrl+End")
        << "ab\r\ncd" << 3 << QStringList{"Ctrl+Home", "type:[", "Ctrl+End", "type:]"} << "[ab\r\ncd]" << 8;
    QTest::newRow("PageDown goes to the last line") << "a\r\nb\r\nc" << 0 << QStringList{"PgDown", "type:!"} << "a\r\nb\r\n!c" << 7;
    QTest::newRow("Ctrl with a letter types nothing") << "ab" << 1 << QStringList{"Ctrl+K"} << "ab" << 1;
}

void TestConsole::operatorEdits()
{
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(QStringList, actions);
    QFETCH(QString, expected);
    QFETCH(int, caretAfter);

    ReceiveConsole console;
    console.setText(text);
    console.select(caret, caret);
    act(&console, actions);
    QCOMPARE(console.text(), expected);
    QCOMPARE(console.caretPosition(), caretAfter);
}

void TestConsole::operatorEditsWithoutAScreen()
{
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(QStringList, actions);
    QFETCH(QString, expected);
    QFETCH(int, caretAfter);

    ConsoleBuffer buffer(testAdvance);
    buffer.setText(text);
    ConsoleRows rows(buffer);
    ConsoleCursor cursor(buffer, rows);
    cursor.select(caret, caret);
    for (const QString &action : actions) {
        const bool typed = action.startsWith(QLatin1String("type:"));
        const QKeyCombination key = typed ? QKeyCombination(Qt::Key_unknown) : QKeySequence::fromString(action)[0];
        const QKeyEvent event(QEvent::KeyPress, key.key(), key.keyboardModifiers(), typed ? action.mid(5) : QString());
        if (const auto motion = ConsoleCursor::motionOf(event))
            cursor.move(motion->motion, motion->extend, 10);
        else if (event.matches(QKeySequence::SelectAll))
            cursor.selectAll();
        else
            cursor.edit(event);
    }
    QCOMPARE(buffer.text(), expected);
    QCOMPARE(cursor.position(), caretAfter);
}

void TestConsole::copyCutPaste_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");

    QTest::newRow("across a line break") << "ab\r\ncd" << 1 << 5;
    QTest::newRow("NUL and a lone CR") << QString::fromLatin1("a\0b\rc", 5) << 0 << 5;
    QTest::newRow("backward selection") << "hello" << 4 << 1;
    QTest::newRow("every byte value") << allBytes() << 3 << 250;
}

void TestConsole::copyCutPaste()
{
    QFETCH(QString, text);
    QFETCH(int, anchor);
    QFETCH(int, position);
    const qsizetype from = std::min(anchor, position);
    const qsizetype to = std::max(anchor, position);

    ReceiveConsole console;
    console.setText(text);
    console.select(anchor, position);
    act(&console, {QStringLiteral("Ctrl+C")});
    QCOMPARE(QGuiApplication::clipboard()->text(), text.mid(from, to - from));
    QCOMPARE(console.text(), text);
    // The console keeps no edit history: Undo cannot act.
    const QList<QAction *> items = createConsoleMenu(console)->actions();
    QCOMPARE(items.value(0)->text() + items.value(6)->text(),
             QCoreApplication::translate("QWidgetTextControl", "&Undo") + QCoreApplication::translate("QWidgetTextControl", "Delete"));
    QCOMPARE(QList<bool>({items[0]->isEnabled(), items[6]->isEnabled()}), QList<bool>({false, true}));

    act(&console, {QStringLiteral("Ctrl+X")});
    QCOMPARE(console.text(), text.left(from) + text.mid(to));
    QCOMPARE(console.caretPosition(), from);
    act(&console, {QStringLiteral("Ctrl+V")});
    QCOMPARE(console.text(), text);
    QCOMPARE(console.caretPosition(), to);
}

void TestConsole::mouseSelection()
{
    ReceiveConsole console;
    console.resize(220, 160);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    const QString text = QStringLiteral("ab\r\ncd\r\nef");
    console.setText(text);
    QWidget *view = console.viewport();
    const QPoint topLeft(1, 1);
    const QPoint bottomRight(view->width() - 2, view->height() - 2);

    QTest::mousePress(view, Qt::LeftButton, {}, topLeft);
    QTest::mouseMove(view, bottomRight);
    QTest::mouseRelease(view, Qt::LeftButton, {}, bottomRight);
    QCOMPARE(console.selectedText(), text);

    QTest::mouseClick(view, Qt::LeftButton, {}, bottomRight);
    QCOMPARE(console.selectedText(), QString());
    QCOMPARE(console.caretPosition(), text.size());

    QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier, topLeft);
    QCOMPARE(console.anchorPosition(), text.size());
    QCOMPARE(console.caretPosition(), 0);
    QCOMPARE(console.selectedText(), text);
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
    const QString before = h.form->Text8->text();
    QTest::keyClick(start, Qt::Key(key));
    QCOMPARE(QApplication::focusWidget()->objectName(), to);
    QCOMPARE(h.form->Text8->text(), before);
}

void TestConsole::byteView_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QStringList>("rows"); // each row's hex, then its characters

    QByteArray high;
    for (int b = 0x80; b < 0x90; ++b)
        high.append(char(b));
    high.append("\xF0\xFE\xFF");
    QTest::newRow("CR LF split across reads") << QList<QByteArray>{"AB\r", "\nCD"}
                                              << QStringList{"41 42 0D 0A|AB..", "43 44|CD"};
    QTest::newRow("NUL") << QList<QByteArray>{QByteArray("A\0B", 3)} << QStringList{"41 00 42|A.B"};
    QTest::newRow("0x80 to 0xFF")
        << QList<QByteArray>{high}
        << QStringList{"80 81 82 83 84 85 86 87 88 89 8A 8B 8C 8D 8E 8F|\u20AC.\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152...",
                       "F0 FE FF|\u011F\u015F\u00FF"};
    const auto full = [](char byte) { return QString::fromLatin1(QByteArray(16, byte).toHex(' ').toUpper()) + u'|' + QString(16, QLatin1Char(byte)); };
    QTest::newRow("a long line, 16 bytes a row, a break in a row of its own")
        << QList<QByteArray>{QByteArray(35, 'a') + "\r\n" + QByteArray(16, 'b') + "\r\n"}
        << QStringList{full('a'), full('a'), "61 61 61 0D 0A|aaa..", full('b'), "0D 0A|.."};
}

void TestConsole::byteView()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, rows);

    ReceiveConsole console;
    console.resize(400, 200);
    console.setShowsBytes(true);
    for (const QByteArray &piece : pieces)
        console.appendBytes(piece);
    const QString text = console.text();
    console.select(1, text.size());
    console.setShowsBytes(false);
    console.setShowsBytes(true);
    QCOMPARE(console.text(), text);
    QCOMPARE(console.anchorPosition(), 1);
    QCOMPARE(console.caretPosition(), text.size());

    console.selectAll();
    QVERIFY(!createConsoleMenu(console)->actions().value(6)->isEnabled());
    console.copy();
    QStringList shown;
    for (const QString &row : QGuiApplication::clipboard()->text().split(u'\n'))
        shown.append(row.left(47).trimmed() + u'|' + row.mid(49));
    QCOMPARE(shown, rows);
}

void TestConsole::byteViewKeys()
{
    ReceiveConsole console;
    console.resize(400, 200);
    console.setText(QString(40, u'a') + QStringLiteral("\r\nbc"));
    console.setShowsBytes(true);
    console.select(1, 1);
    // Up and Down go from row to row in the same column, Home and End to the line's ends.
    act(&console, {QStringLiteral("Down"), QStringLiteral("Down")});
    QCOMPARE(console.caretPosition(), 33);
    act(&console, {QStringLiteral("Down"), QStringLiteral("Up")});
    QCOMPARE(console.caretPosition(), 33);
    act(&console, {QStringLiteral("End")});
    QCOMPARE(console.caretPosition(), 40);
    // It takes no edits.
    act(&console, {QStringLiteral("type:x"), QStringLiteral("Backspace"), QStringLiteral("Return"), QStringLiteral("Shift+Home")});
    QCOMPARE(console.text(), QString(40, u'a') + QStringLiteral("\r\nbc"));
    console.cut();
    console.paste();
    QCOMPARE(console.text(), QString(40, u'a') + QStringLiteral("\r\nbc"));
    QCOMPARE(console.anchorPosition(), 40);
    QCOMPARE(console.caretPosition(), 0);
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
        const qsizetype before = h.form->Text8->text().size();
        h.far.write(bytes);
        // The operator switches the view back and forth while the bytes come.
        QVERIFY(waitUntil([&] {
            h.form->Text8->setShowsBytes(!h.form->Text8->showsBytes());
            return h.form->Text8->text().size() >= before + bytes.size();
        }));
    }
    QVERIFY(h.far.readAll().isEmpty());
    QCOMPARE(h.form->Text8->text().size(), expected.size());
    QVERIFY(h.form->Text8->text() == expected);

    // Saved, the console gives back exactly what came.
    QTemporaryDir dir;
    const auto failure = h.form->Text8->saveTo(dir.filePath(QStringLiteral("saved")));
    QVERIFY2(!failure, qPrintable(failure.value_or(QString())));
    QFile saved(dir.filePath(QStringLiteral("saved")));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll() == "Baud Rate : 4800\r\n" + writes.join());
    QCOMPARE(h.form->Text8->saveTo(dir.filePath(QStringLiteral("no folder/saved"))), QStringLiteral("klasör yok"));
}

void TestConsole::refusals()
{
    ReceiveConsole console;
    console.appendBytes(QByteArray(ReceiveConsole::maxByteViewCopy + 1, 'a'));
    console.setShowsBytes(true);
    console.selectAll();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    MessageBoxCatcher boxes;
    console.copy();
    QCOMPARE(QGuiApplication::clipboard()->text() + boxes.texts.value(0).left(15), QStringLiteral("beforeKopyalanamadı: "));
    // Another user's link in a shared sticky folder, aimed at a file of ours; then a full disk.
    QTemporaryDir shared, own;
    const QByteArray link = QFile::encodeName(shared.filePath(QStringLiteral("x.txt")));
    QVERIFY2(::chmod(QFile::encodeName(shared.path()).constData(), 01777) == 0
                 && ::symlink(QFile::encodeName(own.filePath(QStringLiteral("victim.txt"))).constData(), link.constData()) == 0
                 && ::lchown(link.constData(), 65534, 65534) == 0, "the tests run as root");
    QCOMPARE(console.saveTo(QFile::decodeName(link)),
             QStringLiteral("ortak bir klasörde başka bir kullanıcının sembolik bağlantısı"));
    QVERIFY(!QFile::exists(own.filePath(QStringLiteral("victim.txt"))));
    QVERIFY(::mount("tmpfs", QFile::encodeName(own.path()).constData(), "tmpfs", 0, "size=64k") == 0);
    const auto failure = console.saveTo(own.filePath(QStringLiteral("saved")));
    ::umount(QFile::encodeName(own.path()).constData());
    QCOMPARE(failure, QStringLiteral("disk dolu"));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
