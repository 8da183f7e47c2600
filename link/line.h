#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QObject>

#include <chrono>

// One opened line to a terminal, whatever carries it: a serial device on this machine
// (`SerialLine`) or a device server's port (`NetworkLine`). The port component, its drain and
// the exit path work only through this, so that another kind of line (another system's serial
// API) is one more implementation.
class Line : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Writes are taken: a serial line at once, a device server's once it has settled the line.
    virtual bool isReady() const = 0;
    // Queues `bytes` behind what is queued; never waits. Throws CommError when not ready.
    virtual void write(QByteArrayView bytes) = 0;
    // Everything received and not yet taken, in order.
    virtual QByteArray takeReceived() = 0;
    // Bytes written that may not have reached the far line yet.
    virtual qint64 notOut() const = 0;
    // How long the line needs for notOut() at its baud rate.
    virtual std::chrono::milliseconds timeToLeave() const = 0;
    // Waits, blocked, until all is out or `deadline` or a stop signal: for a process that will
    // run no event loop again. True when all is out.
    virtual bool writeOutNow(QDeadlineTimer deadline) = 0;
    // Ends the line now; what is still queued is dropped.
    virtual void close() = 0;

signals:
    // Only after an opening that was still connecting: the line is ready.
    void connected();
    // The opening failed after all (a failure number of the serial control); the line is closed.
    void failed(int number);
    // Bytes wait for takeReceived().
    void dataReady();
    // The device or the connection went; `unsent` bytes may never have reached the far line.
    // What arrived before is still there for takeReceived().
    void lost(qint64 unsent);
};
