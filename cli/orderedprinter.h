#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QTextStream>

#include <functional>
#include <utility>

// What ports served at once print, in the order the ports were given: the first port not yet
// finished prints as it goes; each later one is held until every port before it has finished.
// Safe to call from any thread.
class OrderedPrinter
{
public:
    enum class Stream { Out, Err };

    // `closed` runs once, when a write to `out` fails (a pipe whose reader has gone).
    OrderedPrinter(QTextStream &out, QTextStream &err, qsizetype ports, std::function<void()> closed = {});

    void print(qsizetype port, Stream stream, const QString &text);
    // At once, whatever port is printing: whole lines of ports that print side by side.
    void printNow(Stream stream, const QString &text);
    // The port's last text; the ports after it may print.
    void finish(qsizetype port, Stream stream, const QString &text);
    bool outputClosed() const;

private:
    struct Port
    {
        QList<std::pair<Stream, QString>> held;
        bool finished = false;
    };

    // Prints or holds `text`; the mutex is held.
    void take(qsizetype port, Stream stream, const QString &text);
    void write(Stream stream, const QString &text);

    mutable QMutex m_mutex;
    QTextStream &m_out;
    QTextStream &m_err;
    QList<Port> m_ports;
    qsizetype m_current = 0;
    std::function<void()> m_closed;
    bool m_outputClosed = false;
};
