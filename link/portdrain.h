#pragma once

#include "line.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <memory>

// For the adapter's own buffers, or a device server's answer, beyond the line's time.
inline constexpr std::chrono::seconds drainMargin{2};

// Takes over a line whose owner closed it while bytes were still on their way, lets them
// reach the far line at the line's pace, then closes it. The window that wrote them may go at
// once; the program waits for its drains before it ends.
class PortDrain : public QObject
{
    Q_OBJECT

public:
    // Gives `line` its time to leave and drainMargin.
    static void start(std::unique_ptr<Line> line);
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
    // Closes every drained line: at once, or (for a process that will run no event loop
    // again) after waiting, blocked, for its bytes until its time is up.
    static void closeAll(bool writeOutFirst = false);

private:
    explicit PortDrain(std::unique_ptr<Line> line);
    ~PortDrain() override;
    void check();
    void finish(qint64 notOut);

    std::unique_ptr<Line> m_line;
    std::chrono::steady_clock::time_point m_deadline;
    QTimer m_check;
};
