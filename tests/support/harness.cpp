#include "harness.h"

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
