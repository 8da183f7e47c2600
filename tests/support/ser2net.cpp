#include "ser2net.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
}

// Read from the kernel's table rather than by connecting: a trial connection would open the
// device, and the server would then turn the test's own connection away as a second user.
bool listens(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    const QByteArray local = " 0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + " ";
    for (const QByteArray &line : table.open(QIODevice::ReadOnly) ? table.readAll().split('\n') : QList<QByteArray>()) {
        if (line.contains(local) && line.simplified().split(' ').value(3) == "0A")
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
            config += "connection: &c" + QByteArray::number(m_ports.size()) + "\n  accepter: " + accepter + ",127.0.0.1,"
                      + QByteArray::number(m_ports.last()) + "\n  connector: serialdev," + device.toLocal8Bit()
                      + ",4800n81,local\n";
        }
    }
    writeFile(m_dir.filePath(QStringLiteral("ser2net.yaml")), config);
}

bool Ser2net::start()
{
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start(QStringLiteral("/usr/sbin/ser2net"),
                    {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"),
                     m_dir.filePath(QStringLiteral("ser2net.yaml")), QStringLiteral("-P"),
                     m_dir.filePath(QStringLiteral("ser2net.pid"))});
    const QDeadlineTimer deadline(5000);
    while (!std::all_of(m_ports.cbegin(), m_ports.cend(), listens)) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(10);
    }
    return true;
}

void Ser2net::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    pause(false);
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished();
}

void Ser2net::pause(bool paused)
{
    ::kill(pid_t(m_process.processId()), paused ? SIGSTOP : SIGCONT);
}

quint16 Ser2net::closedPort()
{
    // The kernel's choice of a free port, given back at once.
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(s);
    return ntohs(address.sin_port);
}

DeafServer::DeafServer(quint16 port) : m_listener(::socket(AF_INET, SOCK_STREAM, 0))
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    const int reuse = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    ::bind(m_listener, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    ::listen(m_listener, 0);
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    // The accept queue full: the kernel drops further connection requests unanswered.
    for (int &filler : m_fillers) {
        filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    }
}

DeafServer::~DeafServer()
{
    for (const int fd : m_fillers)
        ::close(fd);
    ::close(m_listener);
}

UserConfig::UserConfig(const QByteArray &ports, const QByteArray &settings)
{
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_DIRS", machine.path().toLocal8Bit());
    const QDir folder(home.filePath(QStringLiteral("terminal-kontrol")));
    folder.mkpath(QStringLiteral("."));
    writeFile(folder.filePath(QStringLiteral("terminal-kontrol.conf")), "[ports]\n" + ports);
    if (!settings.isEmpty())
        writeFile(folder.filePath(QStringLiteral("Vxl00.Def")), settings);
}

UserConfig::~UserConfig()
{
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_CONFIG_DIRS");
}
