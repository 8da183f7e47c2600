#pragma once

#include <QDateTime>
#include <QElapsedTimer>

#include <functional>

// Where "now" comes from, so that date, time and wait behaviour can be tested exactly.
using Clock = std::function<QDateTime()>;

inline QDateTime systemNow()
{
    return QDateTime::currentDateTime();
}

// The time of day for stamping what arrives, many times a second. Each local time costs a
// look at the system's time zone file, so `clock` is read at most once a second and the
// steady clock carries its time on in between; a clock that is set anew shows within a second.
class TimeOfDayStamp
{
public:
    explicit TimeOfDayStamp(Clock clock) : m_clock(std::move(clock)) {}

    QTime now()
    {
        if (!m_sinceRead.isValid() || m_sinceRead.hasExpired(1000)) {
            m_read = m_clock().time();
            m_sinceRead.start();
            return m_read;
        }
        return m_read.addMSecs(int(m_sinceRead.elapsed()));
    }

private:
    Clock m_clock;
    QTime m_read;
    QElapsedTimer m_sinceRead;
};
