#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <chrono>
#include <memory>

class NetworkLine;

// For the adapter's own buffers, or a device server's answer, beyond the line's time.
inline constexpr std::chrono::seconds drainMargin{2};

// How long a line needs for `bytes` at `baudRate` (ten bit times a byte), with drainMargin.
std::chrono::milliseconds lineTime(qint64 bytes, qint32 baudRate);

// Bytes of `port` still on their way: queued by Qt or waiting in the driver.
qint64 bytesOnTheWay(const QSerialPort &port);

// Waits, blocked, until what Qt queued for `port` has gone to the driver or `deadline` has
// passed: for a process that will run no event loop again.
void writeOutNow(QSerialPort &port, QDeadlineTimer deadline);

// For a process that writes out without an event loop: from then on SIGINT, SIGTERM and
// SIGHUP end every blocked wait (writeOutNow), so that the ports still close and release
// their locks. exitSignalled() says whether one came.
void armExitSignals();
bool exitSignalled();

// Whether `error` means that the device has gone (an unplugged adapter, a closed far end).
// A write that would block (a slow or paused far end) raises an error too, but its bytes
// stay queued and go out when the line has room: that is no loss.
bool isDeviceGone(const QSerialPort &port, QSerialPort::SerialPortError error);

// Takes over a port whose owner closed it while bytes were still on their way, lets them
// reach the line at the line's pace, then closes it. The window that wrote them may go at
// once; the program waits for its drains before it ends. A device server's connection has
// its bytes out once the server has had the line's time for them.
class PortDrain : public QObject
{
    Q_OBJECT

public:
    static void start(std::unique_ptr<QSerialPort> port, std::chrono::milliseconds limit);
    static void start(std::unique_ptr<NetworkLine> line, std::chrono::milliseconds limit);
    // Runs events until every drain started in this thread has finished: the program's last
    // step, or a command line's before it reports a port. Returns the bytes that drains of
    // this thread left behind since the last call (out of time, or the device gone).
    static qint64 waitForAll();
    // Gives each drain of this thread at most `limit` more.
    static void hurry(std::chrono::milliseconds limit);
    // What the drains of this thread still have on their way, and the longest time left to them.
    struct Progress
    {
        qint64 bytes = 0;
        std::chrono::milliseconds timeLeft{0};
    };
    static Progress progress();
    // Closes every drained port: at once, or (for a process that will run no event loop
    // again) after waiting, blocked, for its bytes until its time is up.
    static void closeAll(bool writeOutFirst = false);

private:
    PortDrain(std::unique_ptr<QSerialPort> port, std::unique_ptr<NetworkLine> line, std::chrono::milliseconds limit);
    static void add(PortDrain *drain);
    ~PortDrain() override;
    bool allOut() const;
    qint64 onTheWay() const;
    void check();
    void finish();

    std::unique_ptr<QSerialPort> m_port;
    std::unique_ptr<NetworkLine> m_line;
    std::chrono::steady_clock::time_point m_deadline;
    QTimer m_check;
};
