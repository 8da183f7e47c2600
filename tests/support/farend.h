#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

// The far end of a serial line: a pseudo-terminal whose other side the program opens as
// its port through a COMn link. The test reads exactly what reached the line and feeds bytes.
class Pty
{
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    QString devicePath() const { return m_devicePath; }

    // Makes COM<number> in `dir` point at this line; removed again on destruction.
    void linkAs(const QString &dir, int number);

    // Pumps the event loop until `count` bytes have arrived or the time is up; returns what came.
    QByteArray read(qsizetype count, std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Reads `count` bytes and then anything more that follows, so that extra bytes show too.
    QByteArray readWithExtras(qsizetype count);
    // Pumps the event loop for `quiet` and returns whatever arrived meanwhile.
    QByteArray readAll(std::chrono::milliseconds quiet = std::chrono::milliseconds(100));

    // Whether the program has put the line in raw mode, so that nothing fed is echoed.
    bool inRawMode() const;
    bool waitForRawMode(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    void write(const QByteArray &bytes);

    // Line parameters as the program set them.
    int baudRate() const;
    bool is8N1() const;

    // The device goes away, as an unplugged adapter does.
    void hangUp();

    // For a far end that keeps its own pace from other threads (the benchmark).
    int masterFd() const { return m_master; }
    int slaveFd() const { return m_slave; }

private:
    QByteArray drain();

    int m_master = -1;
    int m_slave = -1;
    QString m_devicePath;
    QStringList m_links;
};

// Reads a far end at a real line's pace (a 4800-baud line carries 480 bytes a second) on a
// thread of its own, so that the test may block meanwhile.
class PacedReader
{
public:
    PacedReader(int fd, int bytesPerSecond);
    ~PacedReader();
    QByteArray bytes() const;
    // Stops reading and returns what came, with all the line still held: it left the server.
    QByteArray finish();

private:
    mutable std::mutex m_mutex;
    QByteArray m_bytes;
    std::atomic<bool> m_stop = false;
    int m_fd;
    std::thread m_thread;
};

// Pumps events until `done` holds or the time is up.
bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = std::chrono::seconds(5));

// "40 53 0d 0a": bytes as a reader compares them.
QString hexDump(const QByteArray &bytes);

// Answers every modal message box that opens while it lives, and keeps their texts.
class MessageBoxCatcher
{
public:
    MessageBoxCatcher();
    QStringList texts;
    QStringList titles;
    int buttonIcons = 0;

private:
    QTimer m_poll;
};
