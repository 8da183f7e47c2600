#pragma once

#include "line.h"
#include "portmap.h"

#include <QTimer>

#include <chrono>
#include <memory>

namespace networkline_detail {
struct Connection;
}

// A serial line behind a device server: RFC 2217 (the line's settings are set on the remote
// port) or raw TCP (the server's settings stand), through gensio, whose event loop runs on a
// thread of its own; this object lives in its owner's thread and hears of the connection by
// queued calls. Connecting never blocks: a name lookup and the connection run elsewhere, and
// their outcome arrives as connected() or failed(). Writes are refused until the server has
// confirmed the line's settings.
class NetworkLine : public Line
{
    Q_OBJECT

public:
    NetworkLine(const portmap::NetworkTarget &target, const LineSettings &line, QObject *parent = nullptr);
    // Ends the connection at once; what is still queued is dropped.
    ~NetworkLine() override;

    // Starts connecting; gives up with failed() after `timeout`.
    void start(std::chrono::milliseconds timeout);
    bool isConnected() const;

    bool isReady() const override;
    void write(QByteArrayView bytes) override;
    QByteArray takeReceived() override;
    // Bytes the server's line may not have carried yet: those not taken, and those taken whose
    // line time, reckoned from when the connection took them, has not passed. A server that
    // sees the connection end drops what it has not passed on yet (ser2net does). After a
    // loss, what was not out at that moment.
    qint64 notOut() const override;
    std::chrono::milliseconds timeToLeave() const override;
    bool writeOutNow(QDeadlineTimer deadline) override;
    void close() override;

private:
    friend struct networkline_detail::Connection;

    std::shared_ptr<networkline_detail::Connection> makeConnection();
    // The server could not be reached, or refused the connection or the line's settings.
    void refused(int number);
    void closeConnection();

    portmap::NetworkTarget m_target;
    LineSettings m_settings;
    std::shared_ptr<networkline_detail::Connection> m_connection;
    QTimer m_giveUp;
    // What to report when the time is up: a server that kept saying it is in use is busy.
    int m_refusal = 0;
    bool m_ready = false;
};
