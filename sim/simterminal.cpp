#include "simterminal.h"

#include "clockframes.h"
#include "codepage.h"
#include "commandframes.h"
#include "commandwrites.h"

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
    using namespace commandframes;
    const auto is = [&frame](QByteArrayView code) { return frame.startsWith(code); };
    if (is(readInformation))
        return {information(hostNow), QStringLiteral("information read")};
    if (is(readCardCounter))
        return {counterLine(), QStringLiteral("card counter read")};
    if (is(zeroCardCounter)) {
        m_counter = 0;
        return {{}, QStringLiteral("card counter zeroed")};
    }
    if (is(assignCardCounter))
        return assignCounter(frame.mid(assignCardCounter.size()));
    if (is(setDate))
        return takeDate(frame, hostNow);
    if (is(setTime))
        return takeTime(frame, hostNow);
    if (is(companyNameCode)) {
        m_companyName = frame.mid(companyNameCode.size());
        return {{}, QStringLiteral("company name ") + shown(m_companyName)};
    }
    if (is(messageLoad)) {
        m_messageLoaded = frame == commandwrites::messageBeforePause().join();
        return {{}, m_messageLoaded ? QStringLiteral("message load") : QStringLiteral("malformed message load")};
    }
    if (is(messageWrite)) {
        if (!m_messageLoaded || !frame.endsWith(messageEnd))
            return {{}, QStringLiteral("message write ignored: no load before it, or no end byte")};
        m_messageLoaded = false;
        m_message = payload(frame, messageWrite.size(), 1);
        return {{}, QStringLiteral("message ") + shown(m_message)};
    }
    if (is(cardFrameCode)) {
        if (frame.size() != cardFrameLength)
            return {{}, QStringLiteral("malformed card frame")};
        return countCard(QStringLiteral("card frame %1").arg(quint8(frame[2]) * 256 + quint8(frame[3])));
    }
    if (is(commandframes::access)) // unistd.h has an access() too
        return {{}, QStringLiteral("access")};
    if (is(reset)) {
        m_messageLoaded = false;
        return {{}, QStringLiteral("reset")};
    }
    if (is(dialPrefix) && frame.endsWith(dialEnd))
        return {{}, QStringLiteral("dial ") + shown(payload(frame, dialPrefix.size(), dialEnd.size()))};
    if (is(freeCommandCode))
        return {{}, QStringLiteral("unknown command ") + shown(frame)};
    return countCard(QStringLiteral("card ") + shown(frame));
}

SimTerminal::Reply SimTerminal::takeDate(const QByteArray &frame, const QDateTime &hostNow)
{
    if (frame.size() != commandframes::fixedLength(frame))
        return {{}, QStringLiteral("malformed date")};
    const QDate date{clockframes::firstYear + quint8(frame[4]), quint8(frame[3]), quint8(frame[2])};
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

SimTerminal::Reply SimTerminal::takeTime(const QByteArray &frame, const QDateTime &hostNow)
{
    if (frame.size() != commandframes::fixedLength(frame))
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
           + line("GUN", QByteArray::number(now.date().dayOfWeek())) + line("FIRMA", m_companyName) + counterLine()
           + line("MESAJ", m_message);
}
