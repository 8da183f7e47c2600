#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// What the terminal sends, made printable: the text in the terminal's code page as it came,
// or one line of hex per arrival; time stamps, when asked for, lead each line. With a prefix
// (the port's name, when several ports print at once) only whole lines come out, each after
// the prefix; a line longer than maxLine is cut there.
class MonitorPrinter
{
public:
    MonitorPrinter(bool hex, bool timestamps, const QString &prefix = {})
        : m_hex(hex), m_timestamps(timestamps), m_prefix(prefix)
    {
    }

    static constexpr qsizetype maxLine = 64 * 1024;

    QString take(const QByteArray &bytes, const QDateTime &arrival);
    // A line end when the output stopped in mid-line, so that what follows starts afresh.
    QString finish();

private:
    QString stamp(const QDateTime &arrival) const;
    QString printable(const QByteArray &bytes, const QDateTime &arrival);
    // Each line of `lines` (all ending in a line feed) after the prefix.
    QString prefixed(const QString &lines) const;

    bool m_hex;
    bool m_timestamps;
    QString m_prefix;
    QString m_partLine; // with a prefix: the line whose end has not come yet
    bool m_atLineStart = true;
};
