#include "portdrain.h"

#include "networkline.h"
#include "serialinsides.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QList>
#include <QMutex>
#include <QThread>

#include <algorithm>
#include <csignal>

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
volatile std::sig_atomic_t exitSignal = 0;

extern "C" void onExitSignal(int)
{
    exitSignal = 1;
}

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

std::chrono::milliseconds lineTime(qint64 bytes, qint32 baudRate)
{
    const qint64 bytesPerSecond = std::max<qint64>(1, baudRate / 10);
    return std::chrono::milliseconds(bytes * 1000 / bytesPerSecond) + drainMargin;
}

qint64 bytesOnTheWay(const QSerialPort &port)
{
    return port.bytesToWrite() + serialinsides::driverQueue(port);
}

bool isDeviceGone(const QSerialPort &port, QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError && error != QSerialPort::WriteError)
        return false;
#ifdef Q_OS_UNIX
    // Qt reports a full output buffer (EAGAIN) as a resource or write error; a device that
    // has really gone shows as a hang-up.
    return error == QSerialPort::ReadError || serialinsides::hungUp(port);
#else
    Q_UNUSED(port);
    return error != QSerialPort::WriteError;
#endif
}

PortDrain::PortDrain(std::unique_ptr<QSerialPort> port, std::unique_ptr<NetworkLine> line,
                     std::chrono::milliseconds limit)
    : m_port(std::move(port)), m_line(std::move(line)), m_deadline(std::chrono::steady_clock::now() + limit)
{
    // Only a device that is gone ends the drain early; a full line just makes it wait.
    if (m_port) {
        m_port->disconnect();
        connect(m_port.get(), &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
            if (isDeviceGone(*m_port, error))
                finish();
        });
    } else {
        m_line->disconnect();
        connect(m_line.get(), &NetworkLine::lost, this, &PortDrain::finish);
        connect(m_line.get(), &NetworkLine::failed, this, &PortDrain::finish);
    }
    connect(&m_check, &QTimer::timeout, this, &PortDrain::check);
    m_check.start(checkInterval);
}

PortDrain::~PortDrain() = default;

void PortDrain::start(std::unique_ptr<QSerialPort> port, std::chrono::milliseconds limit)
{
    add(new PortDrain(std::move(port), nullptr, limit));
}

void PortDrain::start(std::unique_ptr<NetworkLine> line, std::chrono::milliseconds limit)
{
    add(new PortDrain(nullptr, std::move(line), limit));
}

void PortDrain::add(PortDrain *drain)
{
    QMutexLocker lock(&drainsMutex);
    drains().append(drain);
}

bool PortDrain::allOut() const
{
    return m_port ? bytesOnTheWay(*m_port) == 0 : m_line->allOut();
}

qint64 PortDrain::onTheWay() const
{
    return m_port ? bytesOnTheWay(*m_port) : m_line->notOut();
}

void PortDrain::check()
{
    if (allOut() || std::chrono::steady_clock::now() >= m_deadline)
        finish();
}

void PortDrain::finish()
{
    {
        QMutexLocker lock(&drainsMutex);
        if (!drains().removeOne(this))
            return;
    }
    m_check.stop();
    if (!allOut())
        leftBehind += onTheWay();
    if (m_port)
        m_port->close();
    else
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
        progress.bytes += drain->onTheWay();
        progress.timeLeft = std::max(progress.timeLeft,
                                     std::chrono::ceil<std::chrono::milliseconds>(drain->m_deadline - now));
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
        if (writeOutFirst && drain->m_port)
            writeOutNow(*drain->m_port, QDeadlineTimer(drain->m_deadline));
        else if (writeOutFirst)
            drain->m_line->writeOutNow(QDeadlineTimer(drain->m_deadline));
        drain->finish();
    }
}

void writeOutNow(QSerialPort &port, QDeadlineTimer deadline)
{
    // In slices, so that a signal ends the wait.
    while (port.bytesToWrite() > 0 && !deadline.hasExpired() && !exitSignalled()) {
        const int slice = int(std::min<qint64>(deadline.remainingTime(), 100));
        if (!port.waitForBytesWritten(slice) && port.error() != QSerialPort::TimeoutError)
            break;
    }
}

void armExitSignals()
{
#ifdef Q_OS_UNIX
    struct sigaction action = {};
    action.sa_handler = onExitSignal;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(number, &action, nullptr);
#endif
}

bool exitSignalled()
{
    return exitSignal != 0;
}
