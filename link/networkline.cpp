#include "networkline.h"

#include "commport.h"
#include "portdrain.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <functional>
#include <mutex>
#include <thread>

#include <gensio/gensio.h>
#include <gensio/sergensio.h>
#include <pthread.h>

namespace {

// gensio wakes its waiting thread with this signal when another thread changes what it waits for.
constexpr int wakeSignal = SIGUSR1;
// For the bytes to cross the network to the server, beyond their time on its line.
constexpr std::chrono::milliseconds serverMargin{100};

// gensio's event loop, for every connection of the process, on a thread that only waits.
// Never destroyed: a connection may still be closing when the process ends.
gensio_os_funcs *eventLoop()
{
    static gensio_os_funcs *const os = [] {
        struct sigaction current = {};
        sigaction(wakeSignal, nullptr, &current);
        if (current.sa_handler == SIG_DFL) {
            struct sigaction wake = {};
            wake.sa_handler = [](int) {};
            sigemptyset(&wake.sa_mask);
            sigaction(wakeSignal, &wake, nullptr);
        }
        gensio_os_funcs *funcs = nullptr;
        if (gensio_default_os_hnd(wakeSignal, &funcs) != 0)
            return static_cast<gensio_os_funcs *>(nullptr);
        gensio_os_funcs_set_vlog(funcs, [](gensio_os_funcs *, gensio_log_levels, const char *, va_list) {});
        std::thread([funcs] {
            // The wake signal only interrupts the wait; a closed peer must not end the process.
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, wakeSignal);
            sigaddset(&blocked, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
            gensio_waiter *never = gensio_os_funcs_alloc_waiter(funcs);
            for (;;)
                gensio_os_funcs_wait(funcs, never, 1, nullptr);
        }).detach();
        return funcs;
    }();
    return os;
}

// A server that is not there (no such name, refused, no answer) is a port that does not
// exist; one that takes the connection and ends it at once is held by someone else.
int failureNumber(int gensioError)
{
    switch (gensioError) {
    case GE_INUSE:
    case GE_REMCLOSE:
        return commerror::PortInUse;
    default:
        return commerror::PortNotFound;
    }
}

unsigned int sergensioParity(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::OddParity:
        return SERGENSIO_PARITY_ODD;
    case QSerialPort::EvenParity:
        return SERGENSIO_PARITY_EVEN;
    case QSerialPort::MarkParity:
        return SERGENSIO_PARITY_MARK;
    case QSerialPort::SpaceParity:
        return SERGENSIO_PARITY_SPACE;
    default:
        return SERGENSIO_PARITY_NONE;
    }
}

} // namespace

namespace networkline_detail {

// What the owner's thread and gensio's thread share. It outlives the NetworkLine until gensio
// has closed the connection (`self`), so that no late callback finds it gone.
struct Connection
{
    enum class State { Connecting, Open, Closing, Closed };

    std::string description;
    portmap::NetworkTarget target;
    LineSettings line;

    mutable std::mutex mutex;
    std::condition_variable changed;
    State state = State::Connecting;
    bool abandoned = false;
    gensio *io = nullptr;
    QByteArray received;
    QByteArray outgoing;
    qsizetype outgoingSent = 0; // the front of `outgoing` already taken
    QObject *owner = nullptr;   // cleared, under the mutex, before the owner goes
    std::shared_ptr<Connection> self;

    // Runs `call` in the owner's thread, if the owner is still there. Mutex held.
    void post(std::function<void(NetworkLine &)> call)
    {
        if (!owner)
            return;
        QMetaObject::invokeMethod(
            owner, [owner = owner, call = std::move(call)] { call(*static_cast<NetworkLine *>(owner)); },
            Qt::QueuedConnection);
    }

    qint64 queued() const { return outgoing.size() - outgoingSent; }

    // A gensio reference for a call made outside the mutex; nullptr when there is none.
    gensio *borrowIo()
    {
        if (!io || state != State::Open)
            return nullptr;
        gensio_ref(io);
        return io;
    }

    static int onEvent(gensio *, void *data, int event, int err, unsigned char *buf, gensiods *buflen,
                       const char *const *)
    {
        auto *connection = static_cast<Connection *>(data);
        switch (event) {
        case GENSIO_EVENT_READ:
            if (err) {
                connection->lose();
                return 0;
            }
            connection->receive(buf, *buflen);
            return 0;
        case GENSIO_EVENT_WRITE_READY:
            connection->writeSome();
            return 0;
        default:
            return GE_NOTSUP;
        }
    }

    void receive(const unsigned char *bytes, gensiods count)
    {
        std::lock_guard lock(mutex);
        const bool wasEmpty = received.isEmpty();
        received.append(reinterpret_cast<const char *>(bytes), qsizetype(count));
        if (wasEmpty && count > 0)
            post([](NetworkLine &line) { emit line.dataReady(); });
    }

    void writeSome()
    {
        std::unique_lock lock(mutex);
        if (state != State::Open || !io)
            return;
        if (queued() > 0) {
            gensiods taken = 0;
            const int err = gensio_write(io, &taken, outgoing.constData() + outgoingSent, gensiods(queued()), nullptr);
            if (err) {
                lock.unlock();
                lose();
                return;
            }
            outgoingSent += qsizetype(taken);
            // Drop the sent front now and then, not on every write: a long queue is not moved each time.
            if (outgoingSent > 64 * 1024 && outgoingSent * 2 > outgoing.size()) {
                outgoing.remove(0, outgoingSent);
                outgoingSent = 0;
            }
        }
        if (queued() == 0) {
            outgoing.clear();
            outgoingSent = 0;
            gensio_set_write_callback_enable(io, false);
            changed.notify_all();
        }
    }

    // The connection broke: what it did not take is counted, not kept for another.
    void lose()
    {
        std::unique_lock lock(mutex);
        if (state != State::Open)
            return;
        state = State::Closing;
        const qint64 unsent = queued();
        outgoing.clear();
        outgoingSent = 0;
        changed.notify_all();
        post([unsent](NetworkLine &line) { emit line.lost(unsent); });
        gensio *closing = io;
        lock.unlock();
        closeIo(closing);
    }

    void closeIo(gensio *closing)
    {
        if (gensio_close(closing, &Connection::onClosed, this) != 0)
            onClosed(closing, this);
    }

    static void onClosed(gensio *io, void *data)
    {
        auto *connection = static_cast<Connection *>(data);
        std::shared_ptr<Connection> keep;
        {
            std::lock_guard lock(connection->mutex);
            connection->state = State::Closed;
            connection->io = nullptr;
            keep = std::move(connection->self);
            connection->changed.notify_all();
        }
        gensio_free(io);
    }

    static void onOpened(gensio *io, int err, void *data)
    {
        auto *connection = static_cast<Connection *>(data);
        std::unique_lock lock(connection->mutex);
        if (err) {
            connection->state = State::Closed;
            connection->io = nullptr;
            // One that gave up already has said so.
            if (!connection->abandoned) {
                const int number = failureNumber(err);
                connection->post([number](NetworkLine &line) { line.close(); emit line.failed(number); });
            }
            std::shared_ptr<Connection> keep = std::move(connection->self);
            lock.unlock();
            gensio_free(io);
            return;
        }
        if (connection->abandoned) {
            connection->state = State::Closing;
            lock.unlock();
            connection->closeIo(io);
            return;
        }
        connection->state = State::Open;
        if (connection->target.protocol == portmap::NetworkTarget::Protocol::Rfc2217) {
            // Answers are not awaited: a server may apply a setting and still never confirm it.
            if (sergensio *serial = gensio_to_sergensio(io)) {
                const LineSettings &line = connection->line;
                sergensio_baud(serial, unsigned(line.baudRate), nullptr, nullptr);
                sergensio_datasize(serial, unsigned(line.dataBits), nullptr, nullptr);
                sergensio_parity(serial, sergensioParity(line.parity), nullptr, nullptr);
                sergensio_stopbits(serial, line.stopBits == QSerialPort::TwoStop ? 2 : 1, nullptr, nullptr);
                sergensio_flowcontrol(serial, SERGENSIO_FLOWCONTROL_NONE, nullptr, nullptr);
            }
        }
        gensio_set_read_callback_enable(io, true);
        if (connection->queued() > 0)
            gensio_set_write_callback_enable(io, true);
        connection->post([](NetworkLine &line) { line.m_giveUp.stop(); emit line.connected(); });
    }

    // Runs on a thread of its own: the name lookup inside blocks.
    static void connect(std::shared_ptr<Connection> connection)
    {
        gensio_os_funcs *os = eventLoop();
        gensio *io = nullptr;
        int err = os ? str_to_gensio(connection->description.c_str(), os, &Connection::onEvent, connection.get(), &io)
                     : GE_NOTSUP;
        std::unique_lock lock(connection->mutex);
        if (err == 0 && connection->abandoned) {
            connection->state = State::Closed;
            lock.unlock();
            gensio_free(io);
            return;
        }
        if (err == 0) {
            connection->io = io;
            connection->self = connection;
            err = gensio_open(io, &Connection::onOpened, connection.get());
            if (err) {
                connection->io = nullptr;
                connection->self.reset();
                gensio_free(io);
            }
        }
        if (err) {
            connection->state = State::Closed;
            const int number = failureNumber(err);
            if (!connection->abandoned)
                connection->post([number](NetworkLine &line) { line.close(); emit line.failed(number); });
        }
    }
};

} // namespace networkline_detail

using networkline_detail::Connection;

namespace {

// gensio's own description of the connection; the host was checked to hold nothing but a
// name or an address, so it cannot add options of its own.
std::string describe(const portmap::NetworkTarget &target)
{
    const QString tcp = QStringLiteral("tcp,%1,%2").arg(target.host).arg(target.port);
    const QString full = target.protocol == portmap::NetworkTarget::Protocol::Rfc2217
                             ? QStringLiteral("telnet(rfc2217),") + tcp
                             : tcp;
    return full.toStdString();
}

} // namespace

NetworkLine::NetworkLine(const portmap::NetworkTarget &target, const LineSettings &line, QObject *parent)
    : QObject(parent), m_connection(std::make_shared<Connection>()),
      m_byteTime(std::chrono::seconds(10) / std::max(1, line.baudRate)) // start, 8 data and stop bits
{
    m_connection->description = describe(target);
    m_connection->target = target;
    m_connection->line = line;
    m_connection->owner = this;
    m_giveUp.setSingleShot(true);
    QObject::connect(&m_giveUp, &QTimer::timeout, this, [this] {
        if (isConnected())
            return;
        close();
        emit failed(commerror::PortNotFound);
    });
}

NetworkLine::~NetworkLine()
{
    close();
    std::lock_guard lock(m_connection->mutex);
    m_connection->owner = nullptr;
}

void NetworkLine::start(std::chrono::milliseconds timeout)
{
    m_giveUp.start(timeout);
    std::thread(&Connection::connect, m_connection).detach();
}

bool NetworkLine::isConnected() const
{
    std::lock_guard lock(m_connection->mutex);
    return m_connection->state == Connection::State::Open;
}

void NetworkLine::write(QByteArrayView bytes)
{
    m_lineFreeAt = std::max(m_lineFreeAt, std::chrono::steady_clock::now()) + bytes.size() * m_byteTime;
    gensio *io = nullptr;
    {
        std::lock_guard lock(m_connection->mutex);
        m_connection->outgoing.append(bytes);
        io = m_connection->borrowIo();
    }
    if (io) {
        gensio_set_write_callback_enable(io, true);
        gensio_free(io);
    }
}

QByteArray NetworkLine::takeReceived()
{
    std::lock_guard lock(m_connection->mutex);
    return std::exchange(m_connection->received, {});
}

qint64 NetworkLine::queued() const
{
    std::lock_guard lock(m_connection->mutex);
    return m_connection->queued();
}

bool NetworkLine::allOut() const
{
    return queued() == 0 && std::chrono::steady_clock::now() >= m_lineFreeAt + serverMargin;
}

bool NetworkLine::writeOutNow(QDeadlineTimer deadline)
{
    {
        std::unique_lock lock(m_connection->mutex);
        // In slices, so that a signal ends the wait.
        while (m_connection->queued() > 0 && m_connection->state == Connection::State::Open) {
            if (deadline.hasExpired() || exitSignalled())
                return false;
            m_connection->changed.wait_for(lock, std::chrono::milliseconds(100));
        }
        if (m_connection->queued() > 0)
            return false;
    }
    while (!allOut() && !deadline.hasExpired() && !exitSignalled())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return allOut();
}

void NetworkLine::close()
{
    m_giveUp.stop();
    gensio *io = nullptr;
    {
        std::lock_guard lock(m_connection->mutex);
        m_connection->abandoned = true;
        if (m_connection->state != Connection::State::Open)
            return;
        m_connection->state = Connection::State::Closing;
        io = m_connection->io;
    }
    m_connection->closeIo(io);
}
