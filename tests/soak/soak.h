// Shared by the fault soak's scenarios: the tally each prints at its end, and the helpers
// several scenarios use.
#pragma once

#include "farend.h"
#include "form1.h"

#include <QApplication>
#include <QByteArray>
#include <QPointer>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>

namespace soak {

inline const QString baudLine4800 = QStringLiteral("Baud Rate : 4800\r\n");

struct Tally
{
    int checks = 0;
    int failures = 0;
    qint64 lost = 0;
    qint64 reordered = 0;

    void check(bool holds, const QString &what)
    {
        ++checks;
        if (!holds) {
            ++failures;
            std::printf("FAULT: %s\n", qPrintable(what));
            std::fflush(stdout);
        }
    }

    // `got` must be exactly `sent`, or (when the line may drop its tail) a prefix of it.
    void compareStream(const QByteArray &sent, const QByteArray &got, bool tailMayBeCut, const QString &what)
    {
        ++checks;
        const qsizetype common = std::min(sent.size(), got.size());
        qint64 wrong = 0;
        for (qsizetype i = 0; i < common; ++i)
            wrong += sent[i] != got[i];
        const qint64 missing = tailMayBeCut ? 0 : std::max<qint64>(0, sent.size() - got.size());
        const qint64 extra = std::max<qint64>(0, got.size() - sent.size());
        reordered += wrong + extra;
        lost += missing;
        if (wrong + extra + missing > 0) {
            ++failures;
            std::printf("FAULT: %s: %lld of %lld bytes arrived, %lld out of place, %lld extra\n", qPrintable(what),
                        qlonglong(got.size()), qlonglong(sent.size()), qlonglong(wrong), qlonglong(extra));
            std::fflush(stdout);
        }
    }

    int finish(const char *scenario) const
    {
        std::printf("soak %s: checks=%d failures=%d lost=%lld reordered=%lld\n", scenario, checks, failures, qlonglong(lost),
                    qlonglong(reordered));
        return failures == 0 ? 0 : 1;
    }
};

QByteArray randomBytes(qsizetype size, quint32 seed);
// What reached the console after its baud rate line, as the bytes that came off the line.
QByteArray consoleBytes(const Form1 &form, const QString &baudLine);
QString programDir();
QString settingsPath();
void removeSettingsFile();
// Processor time of this process, user and system.
std::chrono::microseconds processorTime();
// Share of one core this process takes while its event loop runs for `span`.
double loopLoad(std::chrono::milliseconds span);
// Closed windows are deleted later; outside a running event loop that means now.
bool gone(const QPointer<Form1> &form);
// Bytes of heap in use right now.
qint64 liveHeap();
// The port windows that failed openings brought back.
void closePortWindows();

struct StreamFigures
{
    qint64 sent = 0;
    qint64 received = 0;
    qint64 cutAtHangUp = 0;
};

// Random bytes from the far end: three quarters that must all arrive, then the rest with the
// far end hanging up right behind them. What the kernel still holds then is dropped with the
// line, so from there on only an unbroken prefix may arrive. `midStream` is the operator's
// turn while the data flows.
void streamThenHangUp(Tally &tally, Pty &far, const QByteArray &data, const QByteArray &polled,
                      const std::function<bool()> &portOpen, const std::function<void()> &midStream, const QString &cycle,
                      StreamFigures &figures);

// The scenarios, each ending with its tally's line.
int cycles(int count, qsizetype bytesPerCycle, bool window); // line.cpp
int memory(int rounds);
int trickle(int lineKilobytes, int seconds);
int afterHangUp();
int slowLine(int cycles, int frameBytes, int bytesPerSecond);
int settings(); // setup.cpp
int ports();
int holdPort(int port, int milliseconds);
int twoInstances();
int closeInWait(int count); // operator.cpp
int wholeRun(QApplication &app);
int clickStorm(int clicks);
int runUntilSignal(int port, int frameBytes); // ends.cpp
int sigterm(int rounds);
int ends(int rounds);
int deafServer(int rounds); // server.cpp

} // namespace soak
