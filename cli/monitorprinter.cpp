#include "monitorprinter.h"

#include "codepage.h"

QString MonitorPrinter::stamp(const QDateTime &arrival) const
{
    return m_timestamps ? arrival.toString(QStringLiteral("HH:mm:ss.zzz ")) : QString();
}

QString MonitorPrinter::take(const QByteArray &bytes, const QDateTime &arrival)
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
    return QStringLiteral("\n");
}
