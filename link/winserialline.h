#pragma once

#include "line.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// A COM port through the Win32 communications API. It opens on a helper thread, so that a
// driver slow to answer never holds up the owner; a reader thread waits in ReadFile, which ends
// with the first byte to arrive; a writer thread writes what write() queued, so that the owner's
// thread never waits for the line. No WaitCommEvent: an emulation that cannot tell a pty's
// arrivals ends it at once.
class WinSerialLine : public Line
{
    Q_OBJECT

public:
    // `device` is \\.\COMn (or a bare COMn). Ready once connected() is emitted; failed() says
    // 8002 no such port (or no answer in 3 s), 8005 held by another program (Windows opens a
    // port for one only), 8015 settings refused.
    static std::unique_ptr<WinSerialLine> open(const QString &device, const LineSettings &settings);
    ~WinSerialLine() override;

    bool isReady() const override;
    void write(QByteArrayView bytes) override;
    QByteArray takeReceived() override;
    qint64 notOut() const override;
    std::chrono::milliseconds timeToLeave() const override;
    bool writeOutNow(QDeadlineTimer deadline) override;
    void close() override;

private:
    struct Opening;
    explicit WinSerialLine(const LineSettings &settings);
    static void openOnHelper(WinSerialLine *line, const std::shared_ptr<Opening> &opening, const std::wstring &path,
                             const LineSettings &settings);
    void onOpened();
    void abandonOpening();
    void readLoop();
    void writeLoop();
    // From either thread: the owner's thread tells the link.
    void postArrival();
    void postLost();
    void onLost();
    // The driver's output and input queues.
    qint64 driverQueue() const;
    qint64 driverInQueue() const;

    LineSettings m_settings;
    void *m_handle = nullptr;
    std::shared_ptr<Opening> m_opening;
    std::thread m_opener;
    std::atomic<bool> m_closing = false;
    std::atomic<bool> m_arrivalPosted = false;
    std::atomic<bool> m_lostPosted = false;
    std::atomic<int> m_running = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    // Guarded by m_mutex.
    QByteArray m_received;
    QByteArray m_queued;
    qint64 m_inFlight = 0;
    std::thread m_reader;
    std::thread m_writer;
};
