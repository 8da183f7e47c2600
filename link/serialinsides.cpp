#include "serialinsides.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace serialinsides {

QSocketNotifier *readNotifier(const QSerialPort &port)
{
    const auto notifiers = port.findChildren<QSocketNotifier *>();
    for (QSocketNotifier *notifier : notifiers) {
        if (notifier->type() == QSocketNotifier::Read)
            return notifier;
    }
    return nullptr;
}

qint64 readPast(QSerialPort &port, char *into, qint64 size)
{
#ifdef Q_OS_UNIX
    const ssize_t n = ::read(int(port.handle()), into, size_t(size));
    // A raw tty reads 0 when it has nothing.
    if (n < 0)
        return errno == EAGAIN ? 0 : -1;
    return n;
#else
    Q_UNUSED(port);
    Q_UNUSED(into);
    Q_UNUSED(size);
    return -1;
#endif
}

qint64 driverQueue(const QSerialPort &port)
{
#ifdef Q_OS_UNIX
    int queued = 0;
    if (port.handle() >= 0 && ::ioctl(port.handle(), TIOCOUTQ, &queued) == 0)
        return queued;
#else
    Q_UNUSED(port);
#endif
    return 0;
}

bool hungUp(const QSerialPort &port)
{
#ifdef Q_OS_UNIX
    pollfd device = {int(port.handle()), POLLOUT, 0};
    return ::poll(&device, 1, 0) < 0 || (device.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(port);
    return false;
#endif
}

} // namespace serialinsides
