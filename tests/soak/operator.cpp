#include "soak.h"

#include "form0.h"
#include "harness.h"
#include "receiveconsole.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <map>

#include <unistd.h>

using namespace std::chrono_literals;

namespace soak {

// The window closed while its message command waits between its two halves.
int closeInWait(int count)
{
    Tally tally;
    removeSettingsFile();
    std::map<QByteArray, int> outcomes;
    const QByteArray loadHalf("@L\0\1", 4);
    const QByteArray whole = loadHalf + "@Wsoak" + QByteArray(1, '\0');
    for (int i = 0; i < count; ++i) {
        Form1Harness h(8);
        h.form->messageBox->setText(QStringLiteral("soak"));
        // Spread the close over the wait, which lasts up to one second.
        // Anywhere in the wait, which ends when the clock's second changes.
        const int untilNextSecond = 1000 - QTime::currentTime().msec();
        QTimer::singleShot(QRandomGenerator::global()->bounded(untilNextSecond), h.form, &QWidget::close);
        h.click(h.form->messageButton);
        waitUntil([&] { return gone(h.form); }, 3s);
        tally.check(h.form.isNull(), QStringLiteral("close %1: window gone").arg(i));
        const QByteArray line = h.far.readAll(20ms);
        ++outcomes[line];
        tally.check(line == loadHalf || line == whole, QStringLiteral("close %1: line got %2").arg(i).arg(hexDump(line)));
    }
    std::printf("closed in the wait %d times: %d before the second half, %d after it\n", count, outcomes[loadHalf],
                outcomes[whole]);
    return tally.finish("closeinwait");
}

// The program's own run from start to end: the port window, COM10 confirmed, data on the
// line, the message command started and the main window closed during its wait, and the
// application's loop left because no window is left. Everything made on the way must be gone
// when the process ends.
int wholeRun(QApplication &app)
{
    Tally tally;
    removeSettingsFile();
    Pty far;
    far.linkAs(programDir(), 10);
    Module1 module;
    module.programDir = programDir();
    auto *form0 = new Form0(module);
    form0->show();

    QByteArray seen;
    QTimer::singleShot(0, [&] {
        form0->portList->setCurrentIndex(9);
        QTest::mouseClick(form0->okButton, Qt::LeftButton);
        Form1 *form1 = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *f = qobject_cast<Form1 *>(w))
                form1 = f;
        }
        tally.check(form1 && form1->link().port().isOpen(), QStringLiteral("main window open on COM10"));
        if (!form1)
            return app.quit();
        far.waitForRawMode();
        far.write(randomBytes(4096, 10));
        waitUntil([&] { return form1->console->text().size() >= baudLine4800.size() + 4096; });
        seen = consoleBytes(*form1, baudLine4800);
        form1->messageBox->setText(QStringLiteral("bye"));
        const int untilNextSecond = 1000 - QTime::currentTime().msec();
        QTimer::singleShot(untilNextSecond / 2, form1, &QWidget::close);
        QTest::mouseClick(form1->messageButton, Qt::LeftButton);
    });
    const int exitCode = app.exec();
    tally.check(exitCode == 0, QStringLiteral("the loop ended with %1").arg(exitCode));
    tally.compareStream(randomBytes(4096, 10), seen, false, QStringLiteral("console of the whole run"));
    tally.compareStream(QByteArray("@L\0\1", 4), far.readAll(20ms), false, QStringLiteral("first half of the message only"));
    tally.check(QApplication::topLevelWidgets().isEmpty(),
                QStringLiteral("%1 windows left behind").arg(QApplication::topLevelWidgets().size()));
    std::printf("whole run: port window, main window on COM10, %lld bytes in the console, closed in the wait, loop ended\n",
                qlonglong(seen.size()));
    return tally.finish("wholerun");
}

// The message button clicked as fast as events allow: every "@L" 00 01 must get its "@W", the
// text and 00, soon after the clicks stop.
int clickStorm(int clicks)
{
    Tally tally;
    removeSettingsFile();
    Form1Harness h(12);
    h.form->messageBox->setText(QStringLiteral("storm"));
    const QByteArray load("@L\0\1", 4), write = QByteArray("@Wstorm") + '\0';
    int clicked = 0;
    QTimer storm;
    // Posted, as the window system's clicks are, so that they also arrive inside a wait.
    QObject::connect(&storm, &QTimer::timeout, [&] {
        QMetaObject::invokeMethod(h.form->messageButton, &QPushButton::click, Qt::QueuedConnection);
        if (++clicked == clicks)
            storm.stop();
    });
    storm.start(0);
    QByteArray got;
    waitUntil([&] { return clicked == clicks; }, 600s);
    QElapsedTimer sinceLastClick;
    sinceLastClick.start();
    const qsizetype expected = qsizetype(clicks) * (load.size() + write.size());
    waitUntil(
        [&] {
            got += h.far.readAll(10ms);
            return got.size() >= expected;
        },
        5s);
    const qint64 settled = sinceLastClick.elapsed();
    // Each second half follows one first half: the count of open sequences never goes negative.
    int open = 0, lowest = 0;
    for (qsizetype at = 0; at < got.size();) {
        const bool isLoad = got.sliced(at).startsWith(load);
        open += isLoad ? 1 : -1;
        lowest = std::min(lowest, open);
        at += isLoad ? load.size() : write.size();
    }
    tally.check(got.size() == expected && open == 0 && lowest == 0,
                QStringLiteral("%1 bytes, %2 sequences left open").arg(got.size()).arg(open));
    tally.check(settled < 2000, QStringLiteral("second halves %1 ms after the last click").arg(settled));
    tally.lost += std::max<qint64>(0, expected - got.size());
    std::printf("click storm: %d clicks, every sequence whole %lld ms after the last click\n", clicks, qlonglong(settled));
    return tally.finish("clickstorm");
}

} // namespace soak
