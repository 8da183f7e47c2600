#include "monitorprinter.h"

#include "codepage.h"

#include <utility>

QString MonitorPrinter::stamp(const QDateTime &arrival) const
{
    return m_timestamps ? arrival.toString(QStringLiteral("HH:mm:ss.zzz ")) : QString();
}

QString MonitorPrinter::take(const QByteArray &bytes, const QDateTime &arrival)
{
    if (m_prefix.isEmpty())
        return printable(bytes, arrival);
    m_partLine += printable(bytes, arrival);
    qsizetype whole = m_partLine.lastIndexOf(u'\n') + 1;
    if (m_partLine.size() - whole >= maxLine) {
        m_partLine += u'\n';
        m_atLineStart = true;
        whole = m_partLine.size();
    }
    const QString lines = m_partLine.left(whole);
    m_partLine.remove(0, whole);
    return prefixed(lines);
}

QString MonitorPrinter::prefixed(const QString &lines) const
{
    QString printed;
    for (qsizetype start = 0, end; start < lines.size(); start = end + 1) {
        end = lines.indexOf(u'\n', start);
        printed += m_prefix;
        printed += QStringView(lines).sliced(start, end + 1 - start);
    }
    return printed;
}

QString MonitorPrinter::printable(const QByteArray &bytes, const QDateTime &arrival)
{
    if (bytes.isEmpty())
        return {};
    if (m_hex)
        return stamp(arrival) + QString::fromLatin1(bytes.toHex(' ')) + u'\n';
    QString printed;
    for (const QChar c : codepage::toUnicode(bytes)) {
        if (m_atLineStart)
            printed += stamp(arrival);
        printed += c;
        m_atLineStart = c == u'\n';
    }
    return printed;
}

QString MonitorPrinter::finish()
{
    if (m_atLineStart)
        return {};
    m_atLineStart = true;
    return prefixed(std::exchange(m_partLine, {}) + u'\n');
}
