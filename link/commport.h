#pragma once

#include "commerror.h"
#include "comname.h"
#include "openline.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <memory>

// The serial component of the main window: settings and port number handed over before
// opening, Output queues bytes, Input takes what has arrived. Failures throw CommError.
// Output never waits: bytes leave as the line takes them, and a line that is slow or full
// is no failure. The line itself (`Line`) is a serial device or a device server's port; this
// keeps the settings, COMn's resolution and the watch for a lost device. A device that goes away is closed
// at its first read error and reported once; then, about once a second, the port looks
// whether COMn leads to a device again by the same way (the same link, or the same on-board
// port) and reopens it with the same settings. Closing lets what is still queued reach the
// line at the line's pace and ends that watch.
// COMn may lead to a device server instead (a port map's rfc2217:// or socket:// URL): the
// port then counts as open while it connects, refuses writes (8018) until the connection is
// up, and reports the outcome as opened() or openFailed(); a lost connection is a lost device.
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
    // A device path or URL to open instead of COMn (the command line's own targets).
    void setRoute(const QString &route);

    // Opens COMn, or the route given instead. Throws CommError (8005 when already open).
    void openPort();
    // Closes the port if it is open, and ends the watch for a lost device's return either way.
    void closePort();
    bool isOpen() const;
    // Open, but still connecting to a device server.
    bool connecting() const;
    // How long a device server may take to answer before the opening fails.
    void setConnectTimeout(std::chrono::milliseconds timeout) { m_connectTimeout = timeout; }

    void output(QByteArrayView bytes);
    QByteArray input();

    // Closes every port still open, waiting for queued bytes only as long as the line needs
    // for them: for a process that ends without closing its windows.
    static void closeAllNow();

signals:
    // Bytes are waiting for input().
    void dataReady();
    // The device failed (unplugged adapter); the port is closed by now. `unsentBytes` were
    // handed to output() but never reached the line.
    void deviceLost(qint64 unsentBytes);
    // The lost device is back and open again.
    void deviceBack();
    // A device server took the connection; only after an opening that was still connecting.
    void opened();
    // The device server could not be reached; the port is closed by now.
    void openFailed(int number);

private:
    // How COMn, or the route given instead, is reached now.
    ComResolution resolution() const;
    // Opens COMn's line; a device server's may still be connecting. Throws CommError.
    void open(bool reopening);
    void close();
    void dropLine();
    void onLost(qint64 unsent);
    void reopenWhenBack();

    QString m_programDir;
    QString m_settings = QStringLiteral("9600,n,8,1");
    LineSettings m_lineSettings{9600};
    int m_commPort = 1;
    QString m_route;
    std::unique_ptr<Line> m_open;
    std::chrono::milliseconds m_connectTimeout{7000};
    // How COMn was reached when it opened; only that way may reopen it.
    QString m_openedVia;
    QTimer m_watch;
    // Received before the line was lost and not yet taken by input().
    QByteArray m_arrived;
};
