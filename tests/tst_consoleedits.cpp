// The operator's edits in the console (ReceiveConsole), with and without a screen
// (ConsoleCursor), its clipboard, its byte view and its refusals.
#include "codepage.h"
#include "consolebuffer.h"
#include "consolecursor.h"
#include "consolemenu.h"
#include "harness.h"
#include "receiveconsole.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QKeyEvent>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

class TestConsoleEdits : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // The console unhooks a private slot of Qt's by name; a Qt that renamed it says so here.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("No such slot")));
    }

    void operatorEdits_data();
    void operatorEdits();
    void operatorEditsWithoutAScreen_data() { operatorEdits_data(); }
    void operatorEditsWithoutAScreen();
    void copyCutPaste_data();
    void copyCutPaste();
    void mouseSelection();
    void byteView_data();
    void byteView();
    void byteViewKeys();
    void refusals();
};

void TestConsoleEdits::operatorEdits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("caretAfter");

    QTest::newRow("typing inserts at the caret") << "ac" << 1 << QStringList{"type:b"} << "abc" << 2;
    QTest::newRow("typing Turkish letters")
        << "a" << 1 << QStringList{"type:\u015F\u011F\u0131"} << "a\u015F\u011F\u0131" << 4;
    QTest::newRow("Backspace deletes one character") << "abc" << 2 << QStringList{"Backspace"} << "ac" << 1;
    QTest::newRow("Backspace at the start does nothing") << "abc" << 0 << QStringList{"Backspace"} << "abc" << 0;
    QTest::newRow("Backspace at a line start joins the lines") << "ab\r\ncd" << 4 << QStringList{"Backspace"} << "abcd" << 2;
    QTest::newRow("Backspace after a lone LF deletes only it")
        << "a\r\n\nb" << 4 << QStringList{"Backspace"} << "a\r\nb" << 3;
    QTest::newRow("Delete at a line end joins the lines") << "ab\r\ncd" << 2 << QStringList{"Del"} << "abcd" << 2;
    QTest::newRow("Enter inserts CR LF") << "abcd" << 2 << QStringList{"Return"} << "ab\r\ncd" << 4;
    QTest::newRow("typing replaces a selection")
        << "abcd" << 1 << QStringList{"Shift+Right", "Shift+Right", "type:X"} << "aXd" << 2;
    QTest::newRow("Backspace removes a selection") << "ab\r\ncd" << 1 << QStringList{"Shift+Down", "Backspace"} << "ad" << 1;
    QTest::newRow("Right steps over a line break") << "ab\r\ncd" << 2 << QStringList{"Right", "type:X"} << "ab\r\nXcd" << 5;
    QTest::newRow("Left steps over a line break") << "ab\r\ncd" << 4 << QStringList{"Left", "type:X"} << "abX\r\ncd" << 3;
    QTest::newRow("Home and End") << "ab\r\ncd" << 5 << QStringList{"Home", "type:<", "End", "type:>"} << "ab\r\n<cd>" << 8;
    QTest::newRow("Down keeps the column across a short line")
        << "abcd\r\nx\r\nabcd" << 3 << QStringList{"Down", "Down", "type:|"} << "abcd\r\nx\r\nabc|d" << 13;
    QTest::newRow("Ctrl+A selects all") << "ab\r\ncd" << 1 << QStringList{"Ctrl+A", "type:z"} << "z" << 1;
    QTest::newRow("Ctrl+Home and Ctrl+End")
        << "ab\r\ncd" << 3 << QStringList{"Ctrl+Home", "type:[", "Ctrl+End", "type:]"} << "[ab\r\ncd]" << 8;
    QTest::newRow("PageDown goes to the last line")
        << "a\r\nb\r\nc" << 0 << QStringList{"PgDown", "type:!"} << "a\r\nb\r\n!c" << 7;
    QTest::newRow("Ctrl with a letter types nothing") << "ab" << 1 << QStringList{"Ctrl+K"} << "ab" << 1;
}

void TestConsoleEdits::operatorEdits()
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

void TestConsoleEdits::operatorEditsWithoutAScreen()
{
    QFETCH(QString, text);
    QFETCH(int, caret);
    QFETCH(QStringList, actions);
    QFETCH(QString, expected);
    QFETCH(int, caretAfter);

    ConsoleBuffer buffer([](QChar) { return 1.0; });
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

void TestConsoleEdits::copyCutPaste_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("anchor");
    QTest::addColumn<int>("position");

    QTest::newRow("across a line break") << "ab\r\ncd" << 1 << 5;
    QTest::newRow("NUL and a lone CR") << QString::fromLatin1("a\0b\rc", 5) << 0 << 5;
    QTest::newRow("backward selection") << "hello" << 4 << 1;
    QTest::newRow("every byte value") << allCharacters() << 3 << 250;
}

void TestConsoleEdits::copyCutPaste()
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
             QCoreApplication::translate("QWidgetTextControl", "&Undo")
                 + QCoreApplication::translate("QWidgetTextControl", "Delete"));
    QCOMPARE(QList<bool>({items[0]->isEnabled(), items[6]->isEnabled()}), QList<bool>({false, true}));

    act(&console, {QStringLiteral("Ctrl+X")});
    QCOMPARE(console.text(), text.left(from) + text.mid(to));
    QCOMPARE(console.caretPosition(), from);
    act(&console, {QStringLiteral("Ctrl+V")});
    QCOMPARE(console.text(), text);
    QCOMPARE(console.caretPosition(), to);
}

void TestConsoleEdits::mouseSelection()
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

void TestConsoleEdits::byteView_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QStringList>("rows"); // each row's hex, then its characters

    QByteArray high;
    for (int b = 0x80; b < 0x90; ++b)
        high.append(char(b));
    high.append("\xF0\xFE\xFF");
    QTest::newRow("CR LF split across reads")
        << QList<QByteArray>{"AB\r", "\nCD"} << QStringList{"41 42 0D 0A|AB..", "43 44|CD"};
    QTest::newRow("NUL") << QList<QByteArray>{QByteArray("A\0B", 3)} << QStringList{"41 00 42|A.B"};
    QTest::newRow("0x80 to 0xFF")
        << QList<QByteArray>{high}
        << QStringList{
               "80 81 82 83 84 85 86 87 88 89 8A 8B 8C 8D 8E 8F|\u20AC.\u201A\u0192\u201E\u2026\u2020\u2021\u02C6\u2030\u0160\u2039\u0152...",
               "F0 FE FF|\u011F\u015F\u00FF"};
    const auto full = [](char byte) {
        return QString::fromLatin1(QByteArray(16, byte).toHex(' ').toUpper()) + u'|' + QString(16, QLatin1Char(byte));
    };
    QTest::newRow("a long line, 16 bytes a row, a break in a row of its own")
        << QList<QByteArray>{QByteArray(35, 'a') + "\r\n" + QByteArray(16, 'b') + "\r\n"}
        << QStringList{full('a'), full('a'), "61 61 61 0D 0A|aaa..", full('b'), "0D 0A|.."};
}

void TestConsoleEdits::byteView()
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

void TestConsoleEdits::byteViewKeys()
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
    act(&console,
        {QStringLiteral("type:x"), QStringLiteral("Backspace"), QStringLiteral("Return"), QStringLiteral("Shift+Home")});
    QCOMPARE(console.text(), QString(40, u'a') + QStringLiteral("\r\nbc"));
    console.cut();
    console.paste();
    QCOMPARE(console.text(), QString(40, u'a') + QStringLiteral("\r\nbc"));
    QCOMPARE(console.anchorPosition(), 40);
    QCOMPARE(console.caretPosition(), 0);
}

void TestConsoleEdits::refusals()
{
    ReceiveConsole console;
    console.appendBytes(QByteArray(ReceiveConsole::maxByteViewCopy + 1, 'a'));
    console.setShowsBytes(true);
    console.selectAll();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    MessageBoxCatcher boxes;
    console.copy();
    QCOMPARE(QGuiApplication::clipboard()->text() + boxes.texts.value(0).left(15), QStringLiteral("beforeKopyalanamadı: "));
    if (::geteuid() != 0)
        QSKIP("the rest needs root: another user's links and folders (lchown) and a full disk (a tmpfs mounted)");
    // Another user's link, or a link in that user's 755 or 1777 folder, aimed at a file of ours,
    // also as a folder on the way; then a full disk.
    QTemporaryDir shared, own;
    const QString victim = own.filePath(QStringLiteral("victim.txt"));
    const QByteArray theirs = QFile::encodeName(shared.filePath(QStringLiteral("theirs")));
    QVERIFY2(::mkdir(theirs.constData(), 0755) == 0 && ::chown(theirs.constData(), 65534, 65534) == 0,
             "the tests run as root");
    for (const auto &[link, mode, saved, refused] : {std::tuple{"x.txt", 01777, "x.txt", "sembolik bağlantısı: %1/x.txt"},
                                                     {"theirs/x.txt", 0755, "theirs/x.txt", "klasörü: %1/theirs"},
                                                     {"theirs/x.txt", 01777, "theirs/x.txt", "klasörü: %1/theirs"},
                                                     {"way", 0755, "way/victim.txt", "sembolik bağlantısı: %1/way"}}) {
        const QByteArray at = QFile::encodeName(shared.filePath(QLatin1String(link)));
        QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), mode) == 0 && ::chmod(theirs.constData(), mode) == 0
                && ::symlink(QFile::encodeName(qstrcmp(saved, link) ? own.path() : victim).constData(), at.constData()) == 0
                && ::lchown(at.constData(), 65534, 65534) == 0);
        QCOMPARE(console.saveTo(shared.filePath(QLatin1String(saved))),
                 QStringLiteral("başka bir kullanıcının ") + QString::fromUtf8(refused).arg(shared.path()));
        QVERIFY(!QFile::exists(victim));
        ::unlink(at.constData());
    }
    QVERIFY(::mount("tmpfs", QFile::encodeName(own.path()).constData(), "tmpfs", 0, "size=64k") == 0);
    const auto failure = console.saveTo(own.filePath(QStringLiteral("saved")));
    ::umount(QFile::encodeName(own.path()).constData());
    QCOMPARE(failure, QStringLiteral("disk dolu"));
}

QTEST_MAIN(TestConsoleEdits)
#include "tst_consoleedits.moc"
