#pragma once

#include "line.h"

#include <QPointer>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

// A serial device on this machine, through QSerialPort and, where the port's interface ends,
// the device itself (`serialinsides`). A line that delivers a little at a time is read once a
// frame of the screen, not on each arrival; a flood is read at once. A full line is no
// failure: only a device that has gone is lost.
class SerialLine : public Line
{
    Q_OBJECT

public:
    // Throws CommError: 8002 no such device, 8005 held by another program, 8010 no rights,
    // 8015 settings refused.
    static std::unique_ptr<SerialLine> open(const QString &device, const LineSettings &settings);
    ~SerialLine() override;

    bool isReady() const override;
    void write(QByteArrayView bytes) override;
    QByteArray takeReceived() override;
    qint64 notOut() const override;
    std::chrono::milliseconds timeToLeave() const override;
    bool writeOutNow(QDeadlineTimer deadline) override;
    void close() override;

private:
    explicit SerialLine(const LineSettings &settings);
    void onError(QSerialPort::SerialPortError error);
    bool isDeviceGone(QSerialPort::SerialPortError error) const;
    void takeArrivals();
    // Takes what the port holds and what follows it on the device, and says so; true for a
    // little that left the device empty (a trickle).
    bool takeAvailable();
    // Reads what the device holds beyond the port's buffer; true if it was left empty.
    bool readRest();
    void takePaused();
    QByteArray portBuffered();

    LineSettings m_settings;
    QSerialPort m_port;
    // While running, the port's read notifier is off and arrivals wait for its end.
    QTimer m_pause;
    QPointer<QSocketNotifier> m_readNotifier;
    // Read from the device but not yet taken; older than what the port holds.
    QByteArray m_arrived;
};
