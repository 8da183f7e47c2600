// The console's text and line index (ConsoleBuffer), without a screen.
#include "codepage.h"
#include "consolebuffer.h"
#include "harness.h"

#include <QTest>

namespace {

// Widths that differ between characters, so that a position found by the wrong sum shows.
double testAdvance(QChar ch)
{
    return 1 + ch.unicode() % 3;
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
                .arg(i)
                .arg(buffer.lineStart(i))
                .arg(buffer.lineEnd(i))
                .arg(start)
                .arg(start + line.size());
        double x = 0;
        for (qsizetype k = 0; k <= line.size(); ++k) {
            if (buffer.x(i, start + k) != x)
                return QStringLiteral("line %1 position %2 at x %3, expected %4")
                    .arg(i)
                    .arg(k)
                    .arg(buffer.x(i, start + k))
                    .arg(x);
            if (buffer.lineOf(start + k) != i)
                return QStringLiteral("position %1 on line %2, expected %3")
                    .arg(start + k)
                    .arg(buffer.lineOf(start + k))
                    .arg(i);
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
    QTest::newRow("every byte value") << allCharacters();
    QTest::newRow("characters the code page lacks") << QStringLiteral("ab\r\n\u2192\r\nc\u4E2D") + allCharacters();
}

} // namespace

class TestConsoleBuffer : public QObject
{
    Q_OBJECT

private slots:
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
};

void TestConsoleBuffer::bufferLines()
{
    QFETCH(QString, text);
    ConsoleBuffer buffer(testAdvance);
    buffer.setText(text);
    const QString fault = indexFault(buffer, text);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestConsoleBuffer::bufferAppendInPieces()
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

void TestConsoleBuffer::bufferReplace_data()
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

void TestConsoleBuffer::bufferReplace()
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

void TestConsoleBuffer::bufferPositions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("line");

    QTest::newRow("short line") << "abc" << 0;
    QTest::newRow("long line past several marks") << longLine() << 0;
    QTest::newRow("second line after a break") << "xy\r\n" + longLine() + "\r\nz" << 1;
    QTest::newRow("empty last line") << "ab\r\n" << 1;
}

void TestConsoleBuffer::bufferPositions()
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

void TestConsoleBuffer::bufferNewAdvance()
{
    const QString text = longLine() + QStringLiteral("\r\nab");
    ConsoleBuffer buffer([](QChar) { return 7.0; });
    buffer.setText(text);
    QCOMPARE(buffer.widestLine(), 7.0 * 700);
    buffer.setAdvance(testAdvance);
    const QString fault = indexFault(buffer, text);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
}

void TestConsoleBuffer::bufferTrim_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QString>("kept");

    QTest::newRow("whole oldest lines go") << "aaaa\r\nbbbb\r\ncccc\r\n" << 8 << "bbbb\r\ncccc\r\n";
    QTest::newRow("a line that is partly needed stays") << "aaaa\r\nbbbb\r\ncc" << 9 << "aaaa\r\nbbbb\r\ncc";
    QTest::newRow("one long line loses whole mark spans") << longLine() << 300 << longLine().mid(256);
    QTest::newRow("a long first line loses spans, then lines")
        << longLine() + "\r\nab" << 300 << longLine().mid(256) + "\r\nab";
    QTest::newRow("a long line after the dropped ones keeps its marks") << "aaaa\r\n" + longLine() << 600 << longLine();
}

void TestConsoleBuffer::bufferTrim()
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

void TestConsoleBuffer::bufferArrivalTimes()
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

QTEST_MAIN(TestConsoleBuffer)
#include "tst_consolebuffer.moc"
