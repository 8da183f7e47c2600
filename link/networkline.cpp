#include "networkline.h"

#include "commerror.h"
#include "stopsignals.h"

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
#ifndef Q_OS_WIN
#include <pthread.h>
#endif

namespace {

// gensio wakes its waiting thread with this signal when another thread changes what it waits for.
#ifdef Q_OS_WIN
constexpr int wakeSignal = 0; // unused there: gensio wakes its Windows loop by other means
#else
constexpr int wakeSignal = SIGUSR1;
#endif
// For the bytes to cross the network to the server, beyond their time on its line.
constexpr std::chrono::milliseconds serverMargin{100};
// What an RFC 2217 server may have read but not yet written to its device when it answers a
// request that followed the bytes (ser2net reads no more while it holds unwritten bytes).
constexpr qint64 serverHold = 1024;
// How often to ask again while the server has not yet agreed to RFC 2217.
constexpr gensio_time settleRetry{0, 10'000'000};
// A raw TCP server that refuses a second user ends the connection at once (ser2net says "Port
// already in use" first): one still there after this is taken as the line.
constexpr gensio_time rawSettle{0, 100'000'000};
constexpr std::chrono::milliseconds inUseRetry{200};
constexpr gensio_time atOnce{0, 0};

// gensio's event loop, for every connection of the process, on a thread that only waits.
// Never destroyed: a connection may still be closing when the process ends.
gensio_os_funcs *eventLoop()
{
    static gensio_os_funcs *const os = [] {
#ifndef Q_OS_WIN
        struct sigaction current = {};
        sigaction(wakeSignal, nullptr, &current);
        if (current.sa_handler == SIG_DFL) {
            struct sigaction wake = {};
            wake.sa_handler = [](int) {};
            sigemptyset(&wake.sa_mask);
            sigaction(wakeSignal, &wake, nullptr);
        }
#endif
        gensio_os_funcs *funcs = nullptr;
        if (gensio_default_os_hnd(wakeSignal, &funcs) != 0)
            return static_cast<gensio_os_funcs *>(nullptr);
        gensio_os_funcs_set_vlog(funcs, [](gensio_os_funcs *, gensio_log_levels, const char *, va_list) {});
        std::thread([funcs] {
#ifndef Q_OS_WIN
            // The wake signal only interrupts the wait; a closed peer must not end the process.
            sigset_t blocked;
            sigemptyset(&blocked);
            sigaddset(&blocked, wakeSignal);
            sigaddset(&blocked, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
#endif
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
    LineSettings settings;

    mutable std::mutex mutex;
    std::condition_variable changed;
    State state = State::Connecting;
    bool abandoned = false;
    gensio *io = nullptr;
    QByteArray received;
    QByteArray outgoing;
    qsizetype outgoingSent = 0; // the front of `outgoing` already taken
    // When the server's line will have carried the last byte the connection took, each byte
    // reckoned from the moment it was taken.
    std::chrono::steady_clock::time_point lineFreeAt{};
    qint64 takenTotal = 0;
    // Set when the connection broke: the bytes the line may not have carried by then.
    qint64 lostUnsent = -1;
    // RFC 2217: each setting confirmed by the server before any data byte goes (raw TCP: at
    // once). Until the server agrees to the option gensio refuses requests (GE_NOTSUP) and
    // sends nothing, so the first one is retried.
    bool settled = false;
    int settingsAnswered = 0;
    // Asks again while the server has not agreed; once settled, sends the probes below.
    gensio_timer *settleTimer = nullptr;
    // A setting repeated after data: its answer says the server has read everything before it.
    bool probing = false;
    qint64 probeMark = 0;
    qint64 confirmed = 0;
    QObject *owner = nullptr; // cleared, under the mutex, before the owner goes
    std::shared_ptr<Connection> self;

    // A connection that never opened still has its timer.
    ~Connection() { freeSettleTimer(); }

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

    // Taken bytes whose time on the server's line (with the margin) has not yet passed.
    qint64 onServerLine(std::chrono::steady_clock::time_point now) const
    {
        const auto left = lineFreeAt + serverMargin - now;
        if (left <= std::chrono::nanoseconds::zero())
            return 0;
        const auto byteTime = settings.byteTime();
        return std::min<qint64>(takenTotal, (left + byteTime - std::chrono::nanoseconds(1)) / byteTime);
    }

    bool rfc2217() const { return target.protocol == portmap::NetworkTarget::Protocol::Rfc2217; }

    qint64 notOut(std::chrono::steady_clock::time_point now) const
    {
        if (lostUnsent >= 0)
            return lostUnsent;
        return queued() + std::max(onServerLine(now), rfc2217() ? takenTotal - confirmed : 0);
    }

    // A gensio reference for a call made outside the mutex; nullptr when there is none.
    gensio *borrowIo()
    {
        if (!io || state != State::Open)
            return nullptr;
        gensio_ref(io);
        return io;
    }

    static int onEvent(gensio *, void *data, int event, int err, unsigned char *buf, gensiods *buflen, const char *const *)
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
        // Before the line is settled it may be a server's refusal, not the terminal speaking.
        if (wasEmpty && count > 0 && settled)
            post([](NetworkLine &line) { emit line.dataReady(); });
    }

    void writeSome()
    {
        std::unique_lock lock(mutex);
        if (state != State::Open || !io)
            return;
        if (!settled) {
            gensio_set_write_callback_enable(io, false);
            return;
        }
        if (queued() > 0) {
            gensiods taken = 0;
            const int err = gensio_write(io, &taken, outgoing.constData() + outgoingSent, gensiods(queued()), nullptr);
            if (err) {
                lock.unlock();
                lose();
                return;
            }
            outgoingSent += qsizetype(taken);
            takenTotal += qint64(taken);
            lineFreeAt = std::max(lineFreeAt, std::chrono::steady_clock::now()) + qint64(taken) * settings.byteTime();
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
        askForProbe();
    }

    // Requests go out from the timer, never from inside one of gensio's callbacks.
    void askForProbe()
    {
        if (rfc2217() && settled && !probing && state == State::Open && takenTotal != confirmed)
            gensio_os_funcs_start_timer(eventLoop(), settleTimer, const_cast<gensio_time *>(&atOnce));
    }

    // Asks the server to confirm the rate again after the bytes taken so far. Loop thread.
    void probe(std::unique_lock<std::mutex> &lock)
    {
        if (!rfc2217() || !settled || probing || state != State::Open || takenTotal == confirmed)
            return;
        probing = true;
        probeMark = takenTotal;
        gensio *serial = io;
        lock.unlock();
        if (sergensio_baud(gensio_to_sergensio(serial), unsigned(settings.baudRate), &Connection::onProbeAnswered, this)
            != 0) {
            lock.lock();
            probing = false;
            return;
        }
        lock.lock();
    }

    static void onProbeAnswered(sergensio *, int err, unsigned int, void *data)
    {
        auto *connection = static_cast<Connection *>(data);
        std::unique_lock lock(connection->mutex);
        connection->probing = false;
        if (err == 0) {
            const qint64 held = std::min(serverHold, connection->probeMark - connection->confirmed);
            connection->confirmed = connection->probeMark;
            connection->lineFreeAt = std::max(
                connection->lineFreeAt, std::chrono::steady_clock::time_point(std::chrono::steady_clock::now()
                                                                              + held * connection->settings.byteTime()));
        }
        // Unanswered in gensio's time (a hung server): asked again.
        connection->askForProbe();
    }

    // The connection broke: what it did not take, and what the server may not yet have put on
    // its line, is counted, not kept for another connection.
    void lose()
    {
        std::unique_lock lock(mutex);
        if (state != State::Open)
            return;
        state = State::Closing;
        lostUnsent = notOut(std::chrono::steady_clock::now());
        outgoing.clear();
        outgoingSent = 0;
        changed.notify_all();
        // Ended before the line was settled: the server took the connection only to refuse it.
        // Counted when the owner hears of it: bytes it writes meanwhile are lost too.
        if (settled)
            post([](NetworkLine &line) { emit line.lost(line.notOut()); });
        else
            post([](NetworkLine &line) { line.refused(commerror::PortInUse); });
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
        connection->freeSettleTimer();
        gensio_free(io);
    }

    // Loop thread, or before the connection was ever opened.
    void freeSettleTimer()
    {
        if (!settleTimer)
            return;
        gensio_os_funcs_stop_timer(eventLoop(), settleTimer);
        gensio_os_funcs_free_timer(eventLoop(), std::exchange(settleTimer, nullptr));
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
                connection->post([number](NetworkLine &line) { line.refused(number); });
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
        gensio_set_read_callback_enable(io, true);
        if (!connection->rfc2217()) {
            gensio_os_funcs_start_timer(eventLoop(), connection->settleTimer, const_cast<gensio_time *>(&rawSettle));
            return;
        }
        lock.unlock();
        connection->requestSettings();
    }

    // Loop thread.
    void requestSettings()
    {
        std::unique_lock lock(mutex);
        if (state != State::Open)
            return;
        sergensio *serial = gensio_to_sergensio(io);
        lock.unlock();
        const int err = sergensio_baud(serial, unsigned(settings.baudRate), &Connection::onBaudAnswered, this);
        if (err == GE_NOTSUP) {
            // Not yet agreed: the giving-up timer of the owner ends the wait.
            gensio_os_funcs_start_timer(eventLoop(), settleTimer, const_cast<gensio_time *>(&settleRetry));
            return;
        }
        const bool sent =
            err == 0 && sergensio_datasize(serial, unsigned(settings.dataBits), &Connection::onAnswered, this) == 0
            && sergensio_parity(serial, sergensioParity(settings.parity), &Connection::onAnswered, this) == 0
            && sergensio_stopbits(serial, settings.stopBits == QSerialPort::TwoStop ? 2 : 1, &Connection::onAnswered, this)
                   == 0
            && sergensio_flowcontrol(serial, SERGENSIO_FLOWCONTROL_NONE, &Connection::onAnswered, this) == 0;
        if (!sent) {
            lock.lock();
            refuse(lock);
        }
    }

    static void onSettleTimer(gensio_timer *, void *data)
    {
        auto *connection = static_cast<Connection *>(data);
        std::unique_lock lock(connection->mutex);
        if (connection->settled) {
            connection->probe(lock);
        } else if (connection->rfc2217()) {
            lock.unlock();
            connection->requestSettings();
        } else if (connection->state == State::Open) {
            connection->settle(lock);
        }
    }

    static void onBaudAnswered(sergensio *, int err, unsigned int rate, void *data)
    {
        auto *connection = static_cast<Connection *>(data);
        // A server that keeps its own rate has refused ours.
        onAnswered(nullptr, err == 0 && rate != unsigned(connection->settings.baudRate) ? GE_INVAL : err, 0, data);
    }

    static void onAnswered(sergensio *, int err, unsigned int, void *data)
    {
        auto *connection = static_cast<Connection *>(data);
        std::unique_lock lock(connection->mutex);
        if (connection->settled || connection->state != State::Open)
            return;
        if (err != 0)
            connection->refuse(lock);
        else if (++connection->settingsAnswered == 5)
            connection->settle(lock);
    }

    void settle(std::unique_lock<std::mutex> &)
    {
        settled = true;
        if (queued() > 0)
            gensio_set_write_callback_enable(io, true);
        const bool arrived = !received.isEmpty();
        post([arrived](NetworkLine &line) {
            line.m_giveUp.stop();
            line.m_ready = true;
            emit line.connected();
            if (arrived)
                emit line.dataReady();
        });
    }

    // The server refused a setting or could not confirm it. Mutex held; released.
    void refuse(std::unique_lock<std::mutex> &lock)
    {
        if (state != State::Open)
            return;
        state = State::Closing;
        post([](NetworkLine &line) { line.refused(commerror::SettingsRefused); });
        gensio *closing = io;
        lock.unlock();
        closeIo(closing);
    }

    // Runs on a thread of its own: the name lookup inside blocks.
    static void connect(std::shared_ptr<Connection> connection)
    {
        gensio_os_funcs *os = eventLoop();
        if (os)
            connection->settleTimer = gensio_os_funcs_alloc_timer(os, &Connection::onSettleTimer, connection.get());
        gensio *io = nullptr;
        int err =
            os ? str_to_gensio(connection->description.c_str(), os, &Connection::onEvent, connection.get(), &io) : GE_NOTSUP;
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
                connection->post([number](NetworkLine &line) { line.refused(number); });
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
    const QString full =
        target.protocol == portmap::NetworkTarget::Protocol::Rfc2217 ? QStringLiteral("telnet(rfc2217),") + tcp : tcp;
    return full.toStdString();
}

} // namespace

NetworkLine::NetworkLine(const portmap::NetworkTarget &target, const LineSettings &line, QObject *parent)
    : Line(parent), m_target(target), m_settings(line)
{
    m_connection = makeConnection();
    m_giveUp.setSingleShot(true);
    QObject::connect(&m_giveUp, &QTimer::timeout, this, [this] {
        if (isConnected())
            return;
        bool reached = false;
        {
            std::lock_guard lock(m_connection->mutex);
            reached = m_connection->state == Connection::State::Open;
        }
        close();
        // A server that kept saying it is in use is busy, even if the time ran out during one more
        // try; one reached whose line's settings were never confirmed refused them.
        emit failed(m_refusal != 0 ? m_refusal : reached ? commerror::SettingsRefused : commerror::PortNotFound);
    });
}

std::shared_ptr<Connection> NetworkLine::makeConnection()
{
    auto connection = std::make_shared<Connection>();
    connection->description = describe(m_target);
    connection->target = m_target;
    connection->settings = m_settings;
    connection->owner = this;
    return connection;
}

void NetworkLine::refused(int number)
{
    // ser2net lets a port go only once it has finished with its last user, a moment after that
    // user left: a port refused as in use is asked again while the time allows.
    if (number == commerror::PortInUse && m_giveUp.isActive()) {
        m_refusal = number;
        closeConnection();
        QTimer::singleShot(inUseRetry, this, [this] {
            if (!m_giveUp.isActive())
                return;
            {
                std::lock_guard lock(m_connection->mutex);
                m_connection->owner = nullptr;
            }
            m_connection = makeConnection();
            std::thread(&Connection::connect, m_connection).detach();
        });
        return;
    }
    close();
    emit failed(number);
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
    return m_connection->state == Connection::State::Open && m_connection->settled;
}

bool NetworkLine::isReady() const
{
    return m_ready;
}

void NetworkLine::write(QByteArrayView bytes)
{
    // Held for a connection still being made, a command would reach the terminal seconds later
    // or vanish with a failed attempt. Once the line was ready, a write after a loss the owner
    // has not heard of yet counts as unsent with the loss.
    if (!m_ready)
        throw CommError(commerror::PortNotOpen);
    gensio *io = nullptr;
    {
        std::lock_guard lock(m_connection->mutex);
        if (m_connection->lostUnsent >= 0) {
            m_connection->lostUnsent += bytes.size();
            return;
        }
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
    // Until the line is settled it may be a server's refusal ("Port already in use").
    if (!m_connection->settled)
        return {};
    return std::exchange(m_connection->received, {});
}

qint64 NetworkLine::notOut() const
{
    std::lock_guard lock(m_connection->mutex);
    return m_connection->notOut(std::chrono::steady_clock::now());
}

std::chrono::milliseconds NetworkLine::timeToLeave() const
{
    std::lock_guard lock(m_connection->mutex);
    const Connection &c = *m_connection;
    const auto now = std::chrono::steady_clock::now();
    const auto lineBusy = std::max(c.lineFreeAt, now) - now;
    return std::chrono::ceil<std::chrono::milliseconds>(c.queued() * c.settings.byteTime() + lineBusy) + serverMargin;
}

bool NetworkLine::writeOutNow(QDeadlineTimer deadline)
{
    {
        std::unique_lock lock(m_connection->mutex);
        // In slices, so that a signal ends the wait.
        while (m_connection->queued() > 0 && m_connection->state == Connection::State::Open) {
            if (deadline.hasExpired() || stopsignals::arrivedSinceArmed())
                return false;
            m_connection->changed.wait_for(lock, std::chrono::milliseconds(100));
        }
        if (m_connection->queued() > 0)
            return false;
    }
    while (notOut() > 0 && !deadline.hasExpired() && !stopsignals::arrivedSinceArmed())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return notOut() == 0;
}

void NetworkLine::close()
{
    m_giveUp.stop();
    closeConnection();
}

void NetworkLine::closeConnection()
{
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
