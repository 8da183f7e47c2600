#pragma once

#include "farend.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include <sys/types.h>

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

inline constexpr qsizetype megabyte = 1024 * 1024;
// The span at the start and at the end of a long ingest whose rates are compared.
inline constexpr qsizetype sustainedWindow = 32 * megabyte;
inline constexpr auto trickleSpan = 10s;
inline constexpr auto trickleInterval = 10ms; // 100 lines a second
inline constexpr auto idleSpan = 10s;
inline constexpr int keyPresses = 50;

double milliseconds(Steady::duration d);
double seconds(Steady::duration d);
// Nearest-rank percentile.
double percentile(std::vector<double> values, double p);

// Processor seconds (user and system) of this process, or of `pid` from /proc/PID/stat.
double processorSeconds();
double processorSeconds(pid_t pid);
// A field of /proc/PID/status in MB: VmRSS (now) or VmHWM (the peak so far).
double statusMegabytes(const QByteArray &field, pid_t pid = 0);

// Runs the event loop (sleeping between events) until `done` holds or `limit` passes.
bool runUntil(const std::function<bool()> &done, Steady::duration limit, std::chrono::milliseconds step = 2ms);
// Wakes only at the end, so that the processor measures see no wake-ups of the bench's own.
void runFor(Steady::duration span);

// The terminal's side of the line. Its threads write and read the master side directly,
// so the far end keeps its own pace whatever the program's thread is doing.
class FarEnd
{
public:
    void linkAs(const QString &dir, int number) { m_pty.linkAs(dir, number); }
    bool rawMode() const { return m_pty.inRawMode(); }

    // Writes every byte unless `stop` is set first; `wrote` hears each written offset.
    bool write(QByteArrayView bytes, const std::atomic_bool &stop, const std::function<void(qsizetype end)> &wrote = {});
    // Whatever the program has written, waiting up to `wait` for the first byte.
    QByteArray read(std::chrono::milliseconds wait);
    void discardUnread();

private:
    Pty m_pty;
    const int m_master = m_pty.masterFd();
};

// The test streams are made as they are sent, so that no copy of them counts against the
// program's memory: printable bytes, with or without a CR LF ending every line.
char streamByte(qsizetype i, bool breaks);
// Sends `size` bytes of the stream; false when stopped first.
bool sendStream(FarEnd &far, qsizetype size, bool breaks, const std::atomic_bool &stop);
// 16-byte lines with their CR LF, one every trickleInterval, until stopped.
void sendTrickle(FarEnd &far, const std::atomic_bool &stop);

QString number(double value, int decimals);
QString ms(double value);
QString percentOfCore(double share);

// The one table the bench prints, as Markdown.
class Table
{
public:
    void add(const QString &measure, const QString &result, const QString &target = QStringLiteral("—"),
             std::optional<bool> met = std::nullopt);
    QString markdown() const;

private:
    QStringList m_rows;
};
