#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The real ser2net on 127.0.0.1 serving each device (a pseudo-terminal) through an RFC 2217
// accepter and a raw TCP one, with a configuration of its own: the system's ser2net service
// is neither needed nor touched.
class Ser2net
{
public:
    explicit Ser2net(const QStringList &devices);
    ~Ser2net() { stop(); }

    // Starts it and waits until every accepter listens; the ports stay the same across restarts.
    bool start();
    void stop();
    // SIGSTOP or SIGCONT: a server that hangs without closing anything.
    void pause(bool paused);

    QString rfc2217Url(int device) const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_ports.value(2 * device)); }
    QString rawUrl(int device) const { return QStringLiteral("socket://127.0.0.1:%1").arg(m_ports.value(2 * device + 1)); }
    // A port on 127.0.0.1 where nothing listens.
    static quint16 closedPort();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QList<quint16> m_ports; // two a device: RFC 2217, raw
};

// A server whose port answers nothing: it listens, but its queue of connections is full.
class DeafServer
{
public:
    // On `port` of 127.0.0.1, or one the kernel picks.
    explicit DeafServer(quint16 port = 0);
    ~DeafServer();
    QString url() const { return QStringLiteral("socket://127.0.0.1:%1").arg(m_port); }

private:
    int m_listener;
    int m_fillers[2] = {-1, -1};
    quint16 m_port = 0;
};

// The operator's configuration folder ($XDG_CONFIG_HOME) holding a port map and, if given, a
// settings file; the machine's folder ($XDG_CONFIG_DIRS) is an empty one.
struct UserConfig
{
    explicit UserConfig(const QByteArray &ports, const QByteArray &settings = {});
    ~UserConfig();
    QTemporaryDir home;
    QTemporaryDir machine;
};
