#pragma once

#include "framereader.h"
#include "simterminal.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <functional>

// Clears the exclusive mode of the line `fd` unless `heldElsewhere` finds another holder. A
// program that opened the line between that look and the clearing lost its exclusive mode; a
// second look finds it and sets the mode again.
void clearExclusiveUnlessHeld(int fd, const std::function<bool()> &heldElsewhere);

// The simulator's end of a pseudo-terminal: it reads frames, hands them to the terminal,
// writes the answers back and logs both, one hex line per frame.
class SimLine : public QObject
{
    Q_OBJECT

public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    explicit SimLine(QTextStream &log, QObject *parent = nullptr);
    ~SimLine() override;

    // Answers held for a program that reads nothing; beyond this the oldest go.
    static constexpr qsizetype maxHeld = 1 << 20;

    QString devicePath() const { return m_devicePath; }
    // The line as this process holds it: gone with the process, so it never leads to
    // the pseudo-terminal that next takes the device's number.
    QString processPath() const;
    qsizetype held() const { return m_output.size(); }
    // Bytes from the terminal's side, as if it sent them of itself.
    void send(const QByteArray &bytes);
    // A line typed on the simulator's input, in the terminal's code page like its answers,
    // with CR LF. UTF-8 is converted; other bytes are taken as the code page's already.
    void sendTyped(const QByteArray &line);

private:
    void onReadable();
    void onQuiet();
    void onClosed();
    // Whether another process holds the device open.
    bool heldElsewhere() const;
    void handle(const QList<QByteArray> &frames);
    void flushOutput();
    void log(const char *direction, const QByteArray &bytes, const QString &note = {});

    QTextStream &m_log;
    int m_master = -1;
    int m_slave = -1;
    QString m_devicePath;
    QSocketNotifier *m_readable = nullptr;
    QSocketNotifier *m_writable = nullptr;
    int m_watch = -1;
    QTimer m_quiet;
    QByteArray m_output;
    qint64 m_dropped = 0;
    FrameReader m_reader;
    SimTerminal m_terminal;
};

// What is typed on the simulator's input, cut into lines without their ends (blank ones
// skipped). A line whose end has not come is held as unread answers are: up to
// SimLine::maxHeld, its oldest bytes dropped beyond that.
class TypedLines
{
public:
    QByteArrayList feed(QByteArrayView bytes);
    // The input's end ends its last line.
    QByteArrayList finish() { return feed("\n"); }
    qsizetype held() const { return m_typed.size(); }
    qint64 dropped() const { return m_dropped; }

private:
    QByteArray m_typed;
    qint64 m_dropped = 0;
};
