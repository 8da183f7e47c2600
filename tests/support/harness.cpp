#include "harness.h"

#include "codepage.h"

#include "receiveconsole.h"
#include <QImage>
#include <QScrollBar>

#include "settingsfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

Form1Harness::Form1Harness(int comNumber, Clock clock)
{
    module.programDir = QCoreApplication::applicationDirPath();
    module.clock = std::move(clock);
    module.SelectedPort = quint8(comNumber);
    far.linkAs(module.programDir, comNumber);
    form = new Form1(module);
    form->load();
    form->show();
    if (!far.waitForRawMode())
        qWarning("the program did not put the line in raw mode");
}

Form1Harness::~Form1Harness()
{
    if (form)
        form->close();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void Form1Harness::click(QWidget *control)
{
    QTest::mouseClick(control, Qt::LeftButton);
}

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

QByteArray allByteValues()
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    return all;
}

QString allCharacters()
{
    return codepage::toUnicode(allByteValues());
}

void writeSettingsFile(const QByteArray *content)
{
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(settingsfile::fileName));
    QFile::remove(path);
    if (!content)
        return;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(*content);
}
