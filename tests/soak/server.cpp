#include "soak.h"

#include "module1.h"
#include "ser2net.h"

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

using namespace std::chrono_literals;

namespace soak {

namespace {

qint64 residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

qsizetype openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size();
}

} // namespace

// A device server that goes deaf for 2 s (its port held by a listener that answers nothing)
// and comes back, with a click every second: each click is reported once or reaches the line
// once, and memory and descriptors stay flat after the first rounds.
int deafServer(int rounds)
{
    Tally tally;
    Pty far;
    Ser2net server({far.devicePath()});
    tally.check(server.start(), QStringLiteral("ser2net started"));
    UserConfig config("COM4=" + server.rfc2217Url(0).toLatin1() + "\n");
    const quint16 serverPort = quint16(QUrl(server.rfc2217Url(0)).port());
    Module1 module;
    module.programDir = programDir();
    module.SelectedPort = 4;
    QPointer<Form1> form = new Form1(module);
    form->load();
    CommPort &port = form->link().port();
    MessageBoxCatcher boxes;
    tally.check(waitUntil([&] { return port.isOpen() && !port.connecting(); }), QStringLiteral("connected"));
    QByteArray arrived;
    int clicks = 0;
    const auto clickThenWait = [&] {
        form->informationButton->click();
        ++clicks;
        waitUntil([&] { return arrived.append(far.readAll(0ms)), false; }, 1s);
    };
    qint64 rss = 0;
    qsizetype descriptors = 0;
    for (int round = 0; round < rounds; ++round) {
        server.stop();
        {
            DeafServer deaf(serverPort);
            clickThenWait();
            clickThenWait();
        }
        tally.check(server.start(), QStringLiteral("ser2net back in round %1").arg(round));
        clickThenWait();
        // A connection attempt still waiting on the deaf port comes through at its next try.
        tally.check(waitUntil([&] { return port.isOpen() && !port.connecting(); }, 10s),
                    QStringLiteral("reconnected in round %1").arg(round));
        clickThenWait();
        if (!form)
            break;
        if (round == 9) {
            rss = residentKilobytes();
            descriptors = openDescriptors();
        }
    }
    waitUntil([&] { return arrived.append(far.readAll(0ms)), false; }, 2s);
    const int frames = int(arrived.count("@S"));
    tally.check(arrived == QByteArray("@S").repeated(frames), QStringLiteral("only whole frames arrived"));
    tally.check(frames + boxes.texts.size() == clicks,
                QStringLiteral("%1 clicks: %2 sent, %3 reported").arg(clicks).arg(frames).arg(boxes.texts.size()));
    const qint64 grown = residentKilobytes() - rss;
    tally.check(rounds <= 10 || grown < 4096, QStringLiteral("resident memory grew %1 KB after round 10").arg(grown));
    tally.check(rounds <= 10 || openDescriptors() <= descriptors,
                QStringLiteral("descriptors: %1 after round 10, %2 at the end").arg(descriptors).arg(openDescriptors()));
    std::printf("deaf server: %d rounds, %d clicks, %d sent, %lld reported, resident memory %+lld KB after round 10\n",
                rounds, clicks, frames, qlonglong(boxes.texts.size()), qlonglong(grown));
    tally.check(!form.isNull(), QStringLiteral("the window stayed"));
    if (form)
        form->close();
    return tally.finish("deafserver");
}

} // namespace soak
