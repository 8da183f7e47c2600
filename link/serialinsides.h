#pragma once

#include <QSerialPort>
#include <QSocketNotifier>

// What the link does past QSerialPort's interface, kept together because a Qt upgrade may take
// it away (tst_units checks each against a pseudo-terminal). The port reads the device one
// notification at a time and knows nothing of the driver's queue or of a hang-up, but a trickle
// read once a frame, a flood taken in few reads, a drain that knows when its bytes are out and a
// lost device told from a full line all need the device itself.
namespace serialinsides {

// The open port's read notifier, which it keeps as a child; none where the port reads otherwise.
// While it is off, the port reads nothing and bytes wait at the device.
QSocketNotifier *readNotifier(const QSerialPort &port);

// Reads the device itself: what it holds now, up to `size` bytes; 0 when it holds nothing, -1 on
// a failure, which is left for the port's own read to report (always, where there is no tty).
// Only where the port cannot be about to read too (in its readyRead, or with its notifier off):
// a read of the port's that found the device empty would count as a lost device.
qint64 readPast(QSerialPort &port, char *into, qint64 size);

// Bytes the driver still holds for the line, beyond the port's own queue.
qint64 driverQueue(const QSerialPort &port);

// Whether the device has hung up: gone, rather than only full.
bool hungUp(const QSerialPort &port);

} // namespace serialinsides
