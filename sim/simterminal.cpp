#include "simterminal.h"

#include "codepage.h"

namespace {

QByteArray line(const char *key, const QByteArray &value)
{
    return QByteArray(key) + ' ' + value + "\r\n";
}

QByteArray payload(const QByteArray &frame, qsizetype from, qsizetype end)
{
    return frame.mid(from, std::max<qsizetype>(0, frame.size() - from - end));
}

QString shown(const QByteArray &bytes)
{
    return QLatin1Char('"') + codepage::toUnicode(bytes) + QLatin1Char('"');
}

} // namespace

SimTerminal::Reply SimTerminal::handle(const QByteArray &frame, const QDateTime &hostNow)
{
    const char code = frame.size() >= 2 && frame[0] == '@' ? frame[1] : 0;
    switch (code) {
    case 'S':
        return {information(hostNow), QStringLiteral("information read")};
    case 'K':
        return {counterLine(), QStringLiteral("card counter read")};
    case 'Z':
        m_counter = 0;
        return {{}, QStringLiteral("card counter zeroed")};
    case 'I':
        return assignCounter(frame.mid(2));
    case 'D':
        return setDate(frame, hostNow);
    case 'T':
        return setTime(frame, hostNow);
    case 'F':
        m_companyName = frame.mid(2);
        return {{}, QStringLiteral("company name ") + shown(m_companyName)};
    case 'L':
        m_messageLoaded = frame == QByteArrayView("@L\0\1", 4);
        return {{}, m_messageLoaded ? QStringLiteral("message load") : QStringLiteral("malformed message load")};
    case 'W':
        if (!m_messageLoaded || !frame.endsWith('\0'))
            return {{}, QStringLiteral("message write ignored: no load before it, or no end byte")};
        m_messageLoaded = false;
        m_message = payload(frame, 2, 1);
        return {{}, QStringLiteral("message ") + shown(m_message)};
    case 'P':
        if (frame.size() != 25)
            return {{}, QStringLiteral("malformed card frame")};
        return countCard(QStringLiteral("card frame %1").arg(quint8(frame[2]) * 256 + quint8(frame[3])));
    case 'A':
        return {{}, QStringLiteral("access")};
    case 'V':
        m_messageLoaded = false;
        return {{}, QStringLiteral("reset")};
    default:
        break;
    }
    if (frame.startsWith("ATDT") && frame.endsWith("\r\n"))
        return {{}, QStringLiteral("dial ") + shown(payload(frame, 4, 2))};
    if (frame.startsWith('@'))
        return {{}, QStringLiteral("unknown command ") + shown(frame)};
    return countCard(QStringLiteral("card ") + shown(frame));
}

SimTerminal::Reply SimTerminal::setDate(const QByteArray &frame, const QDateTime &hostNow)
{
    if (frame.size() != 6)
        return {{}, QStringLiteral("malformed date")};
    const QDate date{2000 + quint8(frame[4]), quint8(frame[3]), quint8(frame[2])};
    const int weekday = quint8(frame[5]);
    if (!date.isValid() || weekday < 1 || weekday > 7)
        return {{}, QStringLiteral("date refused")};
    const QDateTime now = clock(hostNow);
    m_offsetMs = hostNow.msecsTo(QDateTime(date, now.time()));
    QString note = QStringLiteral("date ") + date.toString(QStringLiteral("dd.MM.yyyy"));
    if (weekday != date.dayOfWeek())
        note += QStringLiteral(", weekday %1 is not that date's").arg(weekday);
    return {{}, note};
}

SimTerminal::Reply SimTerminal::setTime(const QByteArray &frame, const QDateTime &hostNow)
{
    if (frame.size() != 4)
        return {{}, QStringLiteral("malformed time")};
    const QTime time{quint8(frame[2]), quint8(frame[3])};
    if (!time.isValid())
        return {{}, QStringLiteral("time refused")};
    m_offsetMs = hostNow.msecsTo(QDateTime(clock(hostNow).date(), time));
    return {{}, QStringLiteral("time ") + time.toString(QStringLiteral("HH:mm"))};
}

SimTerminal::Reply SimTerminal::assignCounter(const QByteArray &value)
{
    bool number = false;
    const int counter = value.toInt(&number);
    if (!number || counter < 0 || counter >= counterLimit)
        return {{}, QStringLiteral("card counter refused ") + shown(value)};
    m_counter = counter;
    return {{}, QStringLiteral("card counter %1").arg(counter)};
}

SimTerminal::Reply SimTerminal::countCard(const QString &what)
{
    m_counter = (m_counter + 1) % counterLimit;
    return {{}, what + QStringLiteral(", counter %1").arg(m_counter)};
}

QByteArray SimTerminal::counterLine() const
{
    return line("SAYAC", QByteArray::number(m_counter).rightJustified(4, '0'));
}

QByteArray SimTerminal::information(const QDateTime &hostNow) const
{
    const QDateTime now = clock(hostNow);
    return line("TARIH", now.toString(QStringLiteral("dd.MM.yyyy")).toLatin1())
           + line("SAAT", now.toString(QStringLiteral("HH:mm:ss")).toLatin1())
           + line("GUN", QByteArray::number(now.date().dayOfWeek())) + line("FIRMA", m_companyName)
           + counterLine() + line("MESAJ", m_message);
}
