#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What the terminal sends, made printable: the text in the terminal's code page as it came,
// or one line of hex per arrival; time stamps, when asked for, lead each line.
class MonitorPrinter
{
public:
    MonitorPrinter(bool hex, bool timestamps) : m_hex(hex), m_timestamps(timestamps) {}

    QString take(const QByteArray &bytes, const QDateTime &arrival);
    // A line end when the output stopped in mid-line, so that what follows starts afresh.
    QString finish();

private:
    QString stamp(const QDateTime &arrival) const;

    bool m_hex;
    bool m_timestamps;
    bool m_atLineStart = true;
};
