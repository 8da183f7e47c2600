#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

#include <exception>

// Failure numbers of the classic serial control, shown to the operator after "PORT Hatası ".
namespace commerror {
inline constexpr int InvalidSettings = 380;
inline constexpr int PortNotFound = 8002;
inline constexpr int PortInUse = 8005;
inline constexpr int AccessDenied = 8010;
inline constexpr int SettingsRefused = 8015;
inline constexpr int PortNotOpen = 8018;
} // namespace commerror

class CommError : public std::exception
{
public:
    explicit CommError(int number) : m_number(number) {}
    int number() const { return m_number; }
    const char *what() const noexcept override { return "serial port failure"; }

private:
    int m_number;
};

// The serial component of the main window: settings and port number handed over before
// opening, Output queues bytes, Input takes what has arrived. Failures throw CommError.
// A device that goes away is closed at its first error and reported once.
class CommPort : public QObject
{
    Q_OBJECT

public:
    explicit CommPort(QString programDir, QObject *parent = nullptr);
    ~CommPort() override;

    void setSettings(const QString &settings);
    QString settings() const { return m_settings; }

    void setCommPort(int portNumber);
    int commPort() const { return m_commPort; }

    void setPortOpen(bool open);
    bool portOpen() const { return m_port.isOpen(); }

    void output(QByteArrayView bytes);
    QByteArray input();

signals:
    // Bytes are waiting for input().
    void dataReady();
    // The device failed (unplugged adapter); the port is closed by now.
    void deviceLost();

private:
    void open();
    void closeFlushed();
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    QString m_programDir;
    QString m_settings = QStringLiteral("9600,n,8,1");
    LineSettings m_line{9600};
    int m_commPort = 1;
};
