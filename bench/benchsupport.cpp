#include "benchsupport.h"

#include <thread>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <cmath>

#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

double milliseconds(Steady::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double seconds(Steady::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto rank = std::max<size_t>(1, size_t(std::ceil(p / 100.0 * double(values.size()))));
    return values[rank - 1];
}

double processorSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto toSeconds = [](timeval t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

double processorSeconds(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return NAN;
    // The command name may hold spaces; the fields after it do not. utime and stime are the
    // 14th and 15th fields, the 12th and 13th after the name.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return NAN;
    return (fields[11].toDouble() + fields[12].toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

double statusMegabytes(const QByteArray &field, pid_t pid)
{
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status") : QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return NAN;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return NAN;
}

bool runUntil(const std::function<bool()> &done, Steady::duration limit, std::chrono::milliseconds step)
{
    if (done())
        return true;
    const auto deadline = Steady::now() + limit;
    bool reached = false;
    QEventLoop loop;
    QTimer check;
    check.setInterval(step);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        } else if (Steady::now() >= deadline) {
            loop.quit();
        }
    });
    check.start();
    loop.exec();
    return reached;
}

void runFor(Steady::duration span)
{
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(span), &loop, &QEventLoop::quit);
    loop.exec();
}

bool FarEnd::write(QByteArrayView bytes, const std::atomic_bool &stop, const std::function<void(qsizetype end)> &wrote)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        if (stop)
            return false;
        pollfd ready{m_master, POLLOUT, 0};
        if (::poll(&ready, 1, 20) <= 0)
            continue;
        const ssize_t n = ::write(m_master, bytes.data() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            if (wrote)
                wrote(done);
        }
    }
    return true;
}

QByteArray FarEnd::read(std::chrono::milliseconds wait)
{
    pollfd ready{m_master, POLLIN, 0};
    if (::poll(&ready, 1, int(wait.count())) <= 0)
        return {};
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, n) : QByteArray();
}

void FarEnd::discardUnread()
{
    ::tcflush(m_pty.slaveFd(), TCIFLUSH);
}

namespace {
constexpr qsizetype lineLength = 80; // bytes per line, CR LF included, in the "with breaks" streams
}

char streamByte(qsizetype i, bool breaks)
{
    const qsizetype column = i % lineLength;
    if (breaks && column == lineLength - 2)
        return '\r';
    if (breaks && column == lineLength - 1)
        return '\n';
    return char('!' + (i * 7 + i / 97) % 94);
}

bool sendStream(FarEnd &far, qsizetype size, bool breaks, const std::atomic_bool &stop)
{
    constexpr qsizetype piece = 64 * 1024;
    QByteArray bytes;
    for (qsizetype from = 0; from < size; from += piece) {
        bytes.resize(std::min(piece, size - from));
        for (qsizetype i = 0; i < bytes.size(); ++i)
            bytes[i] = streamByte(from + i, breaks);
        if (!far.write(bytes, stop))
            return false;
    }
    return true;
}

void sendTrickle(FarEnd &far, const std::atomic_bool &stop)
{
    const auto start = Steady::now();
    for (int line = 0; !stop; ++line) {
        std::this_thread::sleep_until(start + trickleInterval * line);
        far.write(QByteArray::number(line).rightJustified(6, '0') + " trickle\r\n", stop);
    }
}

QString number(double value, int decimals)
{
    return QLocale::c().toString(value, 'f', decimals);
}

QString ms(double value)
{
    return number(value, 2) + QStringLiteral(" ms");
}

QString percentOfCore(double share)
{
    return number(share * 100, 2) + QStringLiteral(" % of a core");
}

void Table::add(const QString &measure, const QString &result, const QString &target, std::optional<bool> met)
{
    const QString verdict = met ? (*met ? QStringLiteral("met") : QStringLiteral("missed")) : QString();
    m_rows.append(QStringList{measure, result, target, verdict}.join(QStringLiteral(" | ")));
}

QString Table::markdown() const
{
    QString text = QStringLiteral("| Measure | Result | Target | |\n|---|---|---|---|\n");
    for (const QString &row : m_rows)
        text += QStringLiteral("| %1 |\n").arg(row);
    return text;
}
