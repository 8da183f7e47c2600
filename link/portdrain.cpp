#include "portdrain.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QMutex>
#include <QThread>

#include <algorithm>

using namespace std::chrono_literals;

namespace {

// A few characters' worth is noticed at once; a poll this slow costs nothing.
constexpr auto checkInterval = 10ms;

// Command lines serve several ports at once, each in a thread of its own.
QMutex drainsMutex;

QList<PortDrain *> &drains()
{
    // Never destroyed: an exit handler may still need it after static destruction began.
    static auto *all = new QList<PortDrain *>;
    return *all;
}

thread_local QEventLoop *waitingLoop = nullptr;
thread_local qint64 leftBehind = 0;

QList<PortDrain *> inThisThread()
{
    QMutexLocker lock(&drainsMutex);
    QList<PortDrain *> mine;
    for (PortDrain *drain : std::as_const(drains())) {
        if (drain->thread() == QThread::currentThread())
            mine << drain;
    }
    return mine;
}

} // namespace

PortDrain::PortDrain(std::unique_ptr<Line> line)
    : m_line(std::move(line)), m_deadline(std::chrono::steady_clock::now() + m_line->timeToLeave() + drainMargin)
{
    // Only a line that is gone ends the drain early; a full line just makes it wait.
    m_line->disconnect();
    connect(m_line.get(), &Line::lost, this, &PortDrain::finish);
    connect(m_line.get(), &Line::failed, this, [this] { finish(m_line->notOut()); });
    connect(&m_check, &QTimer::timeout, this, &PortDrain::check);
    m_check.start(checkInterval);
}

PortDrain::~PortDrain() = default;

void PortDrain::start(std::unique_ptr<Line> line)
{
    auto *drain = new PortDrain(std::move(line));
    QMutexLocker lock(&drainsMutex);
    drains().append(drain);
}

void PortDrain::check()
{
    const qint64 left = m_line->notOut();
    if (left == 0 || std::chrono::steady_clock::now() >= m_deadline)
        finish(left);
}

void PortDrain::finish(qint64 notOut)
{
    {
        QMutexLocker lock(&drainsMutex);
        if (!drains().removeOne(this))
            return;
    }
    m_check.stop();
    leftBehind += notOut;
    m_line->close();
    deleteLater();
    if (waitingLoop && thread() == QThread::currentThread() && inThisThread().isEmpty())
        waitingLoop->quit();
}

qint64 PortDrain::waitForAll()
{
    if (inThisThread().isEmpty())
        return std::exchange(leftBehind, 0);
    QEventLoop loop;
    waitingLoop = &loop;
    loop.exec();
    waitingLoop = nullptr;
    // Finished drains delete themselves later; after the program's last loop, later is now.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return std::exchange(leftBehind, 0);
}

PortDrain::Progress PortDrain::progress()
{
    Progress progress;
    const auto now = std::chrono::steady_clock::now();
    for (const PortDrain *drain : inThisThread()) {
        progress.bytes += drain->m_line->notOut();
        progress.timeLeft =
            std::max(progress.timeLeft, std::chrono::ceil<std::chrono::milliseconds>(drain->m_deadline - now));
    }
    return progress;
}

void PortDrain::hurry(std::chrono::milliseconds limit)
{
    for (PortDrain *drain : inThisThread()) {
        drain->m_deadline = std::min(drain->m_deadline, std::chrono::steady_clock::now() + limit);
        drain->check();
    }
}

void PortDrain::closeAll(bool writeOutFirst)
{
    QList<PortDrain *> all;
    {
        QMutexLocker lock(&drainsMutex);
        all = drains();
    }
    for (PortDrain *drain : all) {
        if (writeOutFirst)
            drain->m_line->writeOutNow(QDeadlineTimer(drain->m_deadline));
        drain->finish(drain->m_line->notOut());
    }
}
