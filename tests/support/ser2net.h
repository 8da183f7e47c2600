#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The real ser2net on 127.0.0.1, serving each device (a pseudo-terminal) through an
// RFC 2217 accepter and a raw TCP one, with a configuration of its own: the system's
// ser2net service is neither needed nor touched.
class Ser2net
{
public:
    explicit Ser2net(const QStringList &devices);
    ~Ser2net();

    // Starts it and waits until every accepter listens; the ports stay the same across restarts.
    bool start();
    void stop();

    QString rfc2217Url(int device) const;
    QString rawUrl(int device) const;
    // A port on 127.0.0.1 where nothing listens.
    static quint16 closedPort();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QList<quint16> m_ports; // two a device: RFC 2217, raw
};
