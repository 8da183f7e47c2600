// Each command button's bytes at the far end of a pseudo-terminal.
#include "harness.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

class TestCommandFrames : public QObject
{
    Q_OBJECT

private slots:
    void init() { writeSettingsFile(nullptr); }
    void buttonFrames_data();
    void buttonFrames();
};

void TestCommandFrames::buttonFrames_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("access") << "Command17" << "" << "" << QByteArray("@A");
    QTest::newRow("reset") << "Command19" << "" << "" << QByteArray("@V");
    QTest::newRow("information") << "Command10" << "" << "" << QByteArray("@S");
    QTest::newRow("card counter read") << "Command11" << "" << "" << QByteArray("@K");
    QTest::newRow("card counter zero") << "Command5" << "" << "" << QByteArray("@Z");
    QTest::newRow("company name empty") << "Command1" << "Text6" << "" << QByteArray("@F");
    QTest::newRow("company name Turkish") << "Command1" << "Text6" << QStringLiteral("Şeker Ağ") << QByteArray("@F\xDE" "eker A\xF0");
}

void TestCommandFrames::buttonFrames()
{
    QFETCH(QString, button);
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QByteArray, bytes);

    Form1Harness h;
    if (!box.isEmpty())
        h.form->findChild<QLineEdit *>(box)->setText(typed);
    h.click(h.form->findChild<QPushButton *>(button));
    const QByteArray line = h.far.read(bytes.size());
    QCOMPARE(hexDump(line + h.far.readAll()), hexDump(bytes));
}

QTEST_MAIN(TestCommandFrames)
#include "tst_commandframes.moc"
