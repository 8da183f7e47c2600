#pragma once

#include "benchsupport.h"
#include "module1.h"

#include <QString>

#include <optional>
#include <vector>

class Form1;

struct Ingest
{
    qsizetype size = 0;
    bool breaks = false;
    qsizetype reached = 0;
    bool complete = false;
    bool exact = false;
    double seconds = 0;
    // MB/s over the first and the last sustainedWindow bytes: the console empty, then full and
    // trimmed every 4 MiB. A window of several trims, as single 4 MB spans vary by half from run
    // to run with the frames and trims they happen to hold.
    std::optional<double> firstWindowRate;
    std::optional<double> lastWindowRate;
    // The same per second of the window's own processor time.
    std::optional<double> firstWindowWorkRate;
    std::optional<double> lastWindowWorkRate;
    double residentAfter = NAN;
    double peakAfter = NAN;

    double rate() const { return double(reached) / megabyte / seconds; }
};

// The program's own main window, link and console in this process, on the offscreen platform,
// against a pseudo-terminal far end played from threads of the bench's own.
class Bench
{
public:
    Bench();
    ~Bench();

    Ingest ingest(qsizetype size, bool breaks);
    // The same with the console's byte view shown, where the release has one.
    std::optional<Ingest> ingestInByteView(qsizetype size);
    std::vector<double> displayLatencies();
    std::vector<double> buttonLatencies(qsizetype floodSize);
    double idleLoad();
    double frameClockLoad();
    double trickleLoad();
    std::vector<double> accessKeyLatencies();
    double pacedWaitLoad();
    double residentNow() const { return statusMegabytes("VmRSS"); }
    Form1 &form() { return *m_form; }

private:
    void clearConsole();

    FarEnd m_far;
    Module1 m_module;
    Form1 *m_form = nullptr;
};

inline constexpr qsizetype pacedBytes = 2400; // five seconds at 4800 baud

// Opening a device server's COMn as the window does: the event loop's longest gap meanwhile
// (the name lookup and the connection must not hold it) and the time until the answer.
struct Connecting
{
    double longestGap = 0; // ms
    double answer = 0;     // ms
    int failure = 0;
};

Connecting connecting(const QString &url);
