#include "ser2net.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Read from the kernel's table rather than by connecting: a trial connection would open the
// device, and the server would then turn the test's own connection away as a second user.
bool listens(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
            return true;
    }
    return false;
}

} // namespace

Ser2net::Ser2net(const QStringList &devices)
{
    QByteArray config;
    for (const QString &device : devices) {
        for (const char *accepter : {"telnet(rfc2217),tcp", "tcp"}) {
            m_ports << closedPort();
            config += "connection: &c" + QByteArray::number(m_ports.size()) + "\n  accepter: " + accepter
                      + ",127.0.0.1," + QByteArray::number(m_ports.last()) + "\n  connector: serialdev,"
                      + device.toLocal8Bit() + ",4800n81,local\n";
        }
    }
    QFile file(m_dir.filePath(QStringLiteral("ser2net.yaml")));
    if (file.open(QIODevice::WriteOnly))
        file.write(config);
}

Ser2net::~Ser2net()
{
    stop();
}

bool Ser2net::start()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("ser2net"),
                    {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"),
                     m_dir.filePath(QStringLiteral("ser2net.yaml")), QStringLiteral("-P"),
                     m_dir.filePath(QStringLiteral("ser2net.pid"))});
    if (!m_process.waitForStarted())
        return false;
    const QDeadlineTimer deadline(5000);
    for (quint16 port : std::as_const(m_ports)) {
        while (!listens(port)) {
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return false;
            QThread::msleep(10);
        }
    }
    return true;
}

void Ser2net::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished();
}

QString Ser2net::rfc2217Url(int device) const
{
    return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_ports.value(2 * device));
}

QString Ser2net::rawUrl(int device) const
{
    return QStringLiteral("socket://127.0.0.1:%1").arg(m_ports.value(2 * device + 1));
}

quint16 Ser2net::closedPort()
{
    // The kernel's choice of a free port, given back at once.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}
