#pragma once

#include "commport.h"

#include <QObject>
#include <QString>

// Owns the main window's serial port for as long as the window exists: the open and close
// sequences, `send`, and the receiving switch. Knows no widget; the window connects to it.
class PortLink : public QObject
{
    Q_OBJECT

public:
    explicit PortLink(QString programDir, QObject *parent = nullptr);

    // The settings file's baud rate text, read afresh on every call.
    QString readBaudRateText() const;

    // Hands "<baud>,n,8,1" and the port number to the port, opens it and arms the receive
    // poll. Throws CommError; the port then stays closed and the poll stopped.
    void open(const QString &baudRateText, quint8 selectedPort);
    // The same for a device path or a device server's URL instead of COMn. Either may still be
    // connecting when it returns (a device server): the port then reports opened() or
    // openFailed() later, and what is sent meanwhile waits for the connection.
    void open(const QString &baudRateText, const QString &route);

    // Stops the receive poll and closes the port if it is open; queued bytes go out first.
    void close();

    // One write of one byte string, in call order. Throws CommError (8018: port not open).
    void send(QByteArrayView bytes);
    // A command's writes in order; a refused one ends them there (the earlier ones stay sent).
    void sendAll(const QList<QByteArray> &writes);

    CommPort &port() { return m_port; }
    // The design's receive timer, Timer1: while receiving, what arrives is emitted at once as
    // received(); while not, it waits in the port and comes when receiving is switched on.
    void setReceiving(bool receiving);
    bool isReceiving() const { return m_receiving; }

signals:
    void received(const QByteArray &bytes);

private:
    void takeReceived();

    QString m_programDir;
    CommPort m_port;
    bool m_receiving = false;
};
