#include "winserialline.h"

#include "commerror.h"
#include "stopsignals.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <memory>

#include <windows.h>

namespace {

// How long ReadFile waits for a first byte before it is issued again (an emulation may wait on
// regardless: close() cancels the read in any case).
constexpr DWORD readWaitMs = 100;
// A port that has not opened by then is taken as absent: a window must not wait longer.
constexpr auto openTimeout = std::chrono::seconds(3);
// One write's size: small enough that close() need not wait long for a write under way.
constexpr qsizetype writeChunk = 4096;
// After a failure that says nothing of the device, before trying again.
constexpr DWORD retryMs = 20;

HANDLE handleOf(void *handle)
{
    return static_cast<HANDLE>(handle);
}

// The driver's queues; empty when it cannot tell.
COMSTAT commStatus(void *handle)
{
    COMSTAT status = {};
    DWORD errors = 0;
    if (handle && !::ClearCommError(handleOf(handle), &errors, &status))
        status = {};
    return status;
}

// Errors with which a driver says its device is gone (unplugged, or the driver stopped it).
bool deviceGone(DWORD error)
{
    switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_OPERATION_ABORTED:
    case ERROR_ACCESS_DENIED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    // A line with no far end any more (wine's COMn on a pty whose other side closed).
    case ERROR_BROKEN_PIPE:
        return true;
    default:
        return false;
    }
}

BYTE parityOf(QSerialPort::Parity parity)
{
    switch (parity) {
    case QSerialPort::EvenParity:
        return EVENPARITY;
    case QSerialPort::OddParity:
        return ODDPARITY;
    case QSerialPort::SpaceParity:
        return SPACEPARITY;
    case QSerialPort::MarkParity:
        return MARKPARITY;
    default:
        return NOPARITY;
    }
}

BYTE stopBitsOf(QSerialPort::StopBits stopBits)
{
    switch (stopBits) {
    case QSerialPort::OneAndHalfStop:
        return ONE5STOPBITS;
    case QSerialPort::TwoStop:
        return TWOSTOPBITS;
    default:
        return ONESTOPBIT;
    }
}

// 0 or the failure number.
int applySettings(HANDLE port, const LineSettings &settings)
{
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb))
        return commerror::SettingsRefused;
    dcb.BaudRate = DWORD(settings.baudRate);
    dcb.ByteSize = BYTE(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.StopBits = stopBitsOf(settings.stopBits);
    dcb.fBinary = TRUE;
    dcb.fParity = settings.parity != QSerialPort::NoParity;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    // Otherwise one line error stops every read and write until ClearCommError.
    dcb.fAbortOnError = FALSE;
    if (!::SetCommState(port, &dcb))
        return commerror::SettingsRefused;
    // A read returns at once with what is there, else with the first byte to come, else empty
    // after readWaitMs; writes have no time limit, a slow line is no failure.
    COMMTIMEOUTS timeouts = {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = readWaitMs;
    if (!::SetCommTimeouts(port, &timeouts))
        return commerror::SettingsRefused;
    return 0;
}

// The helper thread's outcome.
struct OpenOutcome
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    int failure = 0;
};

OpenOutcome openPort(const std::wstring &path, const LineSettings &settings)
{
    HANDLE port =
        ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        // Windows opens a COM port for one program only: "denied" (or a sharing violation, as
        // some drivers say) is another one holding it.
        const DWORD error = ::GetLastError();
        return {port, error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ? commerror::PortInUse
                                                                                       : commerror::PortNotFound};
    }
    if (const int failure = applySettings(port, settings)) {
        ::CloseHandle(port);
        return {INVALID_HANDLE_VALUE, failure};
    }
    return {port, 0};
}

// One overlapped ReadFile or WriteFile to its end; false with the error in `error`.
bool transfer(HANDLE port, bool reading, char *bytes, DWORD size, DWORD &done, DWORD &error)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent) {
        error = ::GetLastError();
        return false;
    }
    done = 0;
    BOOL ok =
        reading ? ::ReadFile(port, bytes, size, nullptr, &overlapped) : ::WriteFile(port, bytes, size, nullptr, &overlapped);
    if (!ok && ::GetLastError() == ERROR_IO_PENDING)
        ok = TRUE;
    if (ok)
        ok = ::GetOverlappedResult(port, &overlapped, &done, TRUE);
    error = ok ? 0 : ::GetLastError();
    ::CloseHandle(overlapped.hEvent);
    return ok;
}

} // namespace

// Shared by the line and its opening thread. Whoever comes second closes a port opened for a
// line that gave up on it (a time-out, a close, the line's end).
struct WinSerialLine::Opening
{
    std::mutex mutex;
    bool abandoned = false;
    bool finished = false;
    OpenOutcome outcome;
};

void WinSerialLine::openOnHelper(WinSerialLine *line, const std::shared_ptr<Opening> &opening, const std::wstring &path,
                                 const LineSettings &settings)
{
    const OpenOutcome outcome = openPort(path, settings);
    const std::lock_guard lock(opening->mutex);
    if (opening->abandoned) {
        if (outcome.handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(outcome.handle);
        return;
    }
    opening->outcome = outcome;
    opening->finished = true;
    // Posted under the mutex with which the line gives up: none reaches a line gone, whose
    // end discards what is still queued for it.
    QMetaObject::invokeMethod(line, &WinSerialLine::onOpened, Qt::QueuedConnection);
}

WinSerialLine::WinSerialLine(const LineSettings &settings) : m_settings(settings), m_opening(std::make_shared<Opening>()) {}

WinSerialLine::~WinSerialLine()
{
    close();
}

std::unique_ptr<WinSerialLine> WinSerialLine::open(const QString &device, const LineSettings &settings)
{
    // A bare COMn above COM9 opens only through the device namespace.
    const QString path = device.startsWith(QLatin1String("\\\\")) ? device : QStringLiteral("\\\\.\\") + device;
    std::unique_ptr<WinSerialLine> line(new WinSerialLine(settings));
    line->m_opener = std::thread(openOnHelper, line.get(), line->m_opening, path.toStdWString(), settings);
    QTimer::singleShot(openTimeout, line.get(), [line = line.get()] {
        if (!line->m_opening)
            return;
        line->abandonOpening();
        emit line->failed(commerror::PortNotFound);
    });
    return line;
}

void WinSerialLine::abandonOpening()
{
    if (!m_opening)
        return;
    bool finished = false;
    {
        const std::lock_guard lock(m_opening->mutex);
        m_opening->abandoned = true;
        finished = m_opening->finished;
        if (finished && m_opening->outcome.handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_opening->outcome.handle);
    }
    m_opening.reset();
    // A driver that does not answer keeps its thread: that thread closes what it opens.
    if (finished)
        m_opener.join();
    else
        m_opener.detach();
}

void WinSerialLine::onOpened()
{
    if (!m_opening)
        return;
    const OpenOutcome outcome = m_opening->outcome; // finished: the helper writes no more
    m_opening.reset();
    m_opener.join();
    if (outcome.failure != 0) {
        emit failed(outcome.failure);
        return;
    }
    m_handle = outcome.handle;
    m_running = 2;
    m_reader = std::thread(&WinSerialLine::readLoop, this);
    m_writer = std::thread(&WinSerialLine::writeLoop, this);
    emit connected();
}

bool WinSerialLine::isReady() const
{
    return m_handle && !m_closing;
}

void WinSerialLine::write(QByteArrayView bytes)
{
    if (!isReady())
        throw CommError(commerror::PortNotOpen);
    const std::lock_guard lock(m_mutex);
    m_queued.append(bytes.data(), bytes.size());
    m_changed.notify_all();
}

QByteArray WinSerialLine::takeReceived()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_received, {});
}

qint64 WinSerialLine::driverQueue() const
{
    return commStatus(m_handle).cbOutQue;
}

qint64 WinSerialLine::driverInQueue() const
{
    return commStatus(m_handle).cbInQue;
}

qint64 WinSerialLine::notOut() const
{
    const qint64 driver = driverQueue();
    const std::lock_guard lock(m_mutex);
    // A driver may or may not count a write still under way in its queue: the larger of the two
    // is what it holds.
    return m_queued.size() + std::max(m_inFlight, driver);
}

std::chrono::milliseconds WinSerialLine::timeToLeave() const
{
    return m_settings.timeFor(notOut());
}

bool WinSerialLine::writeOutNow(QDeadlineTimer deadline)
{
    // In slices, so that a stop signal ends the wait.
    while (notOut() > 0 && !deadline.hasExpired() && !stopsignals::arrivedSinceArmed() && isReady()) {
        std::unique_lock lock(m_mutex);
        const auto slice = std::min<qint64>(deadline.remainingTime(), 50);
        m_changed.wait_for(lock, std::chrono::milliseconds(std::max<qint64>(slice, 1)));
    }
    return notOut() == 0;
}

void WinSerialLine::close()
{
    abandonOpening();
    if (!m_handle)
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
        m_queued.clear();
        m_changed.notify_all();
    }
    // A read or write issued just after a cancel is not cancelled by it: cancel until both
    // threads have seen the close.
    while (m_running > 0) {
        ::CancelIoEx(handleOf(m_handle), nullptr);
        ::Sleep(1);
    }
    m_reader.join();
    m_writer.join();
    ::CloseHandle(handleOf(m_handle));
    m_handle = nullptr;
    const std::lock_guard lock(m_mutex);
    m_inFlight = 0;
}

void WinSerialLine::readLoop()
{
    char chunk[4096];
    while (!m_closing) {
        // What the driver holds comes at once; with nothing there, one byte is asked for, so
        // that the read ends with the first to arrive. A larger read would wait on under an
        // emulation that counts the timeouts' MAXDWORD as a time.
        const DWORD wanted = DWORD(std::clamp<qint64>(driverInQueue(), 1, qint64(sizeof chunk)));
        DWORD got = 0;
        DWORD error = 0;
        if (!transfer(handleOf(m_handle), true, chunk, wanted, got, error)) {
            if (m_closing)
                break;
            if (deviceGone(error)) {
                postLost();
                break;
            }
            ::Sleep(retryMs);
            continue;
        }
        if (got > 0) {
            {
                const std::lock_guard lock(m_mutex);
                m_received.append(chunk, got);
            }
            postArrival();
        }
    }
    --m_running;
}

void WinSerialLine::writeLoop()
{
    QByteArray bytes;
    while (true) {
        {
            std::unique_lock lock(m_mutex);
            m_inFlight = 0;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_closing || !m_queued.isEmpty(); });
            if (m_closing)
                break;
            bytes = m_queued.left(writeChunk);
            m_queued.remove(0, bytes.size());
            m_inFlight = bytes.size();
        }
        while (!bytes.isEmpty() && !m_closing) {
            DWORD written = 0;
            DWORD error = 0;
            const bool ok = transfer(handleOf(m_handle), false, bytes.data(), DWORD(bytes.size()), written, error);
            bytes.remove(0, qsizetype(written));
            {
                const std::lock_guard lock(m_mutex);
                m_inFlight = bytes.size();
            }
            if (ok || m_closing)
                continue;
            if (deviceGone(error)) {
                postLost();
                --m_running;
                return;
            }
            ::Sleep(retryMs);
        }
    }
    --m_running;
}

void WinSerialLine::postArrival()
{
    // Arrivals before the owner's thread came round are told once.
    if (m_arrivalPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_arrivalPosted = false;
            emit dataReady();
        },
        Qt::QueuedConnection);
}

void WinSerialLine::postLost()
{
    if (m_lostPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this, [this] { onLost(); }, Qt::QueuedConnection);
}

void WinSerialLine::onLost()
{
    if (!isReady())
        return;
    const qint64 unsent = notOut();
    close();
    emit lost(unsent);
}
