#include "linesettings.h"

#include <QList>

namespace {

// Beyond what any UART here runs at; keeps the number far from overflowing.
constexpr qint32 maxBaudRate = 4'000'000;

std::optional<qint32> parseBaudRate(QStringView field)
{
    if (field.isEmpty() || field.size() > 7)
        return std::nullopt;
    for (const QChar c : field) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const qint32 rate = field.toInt();
    if (rate < 1 || rate > maxBaudRate)
        return std::nullopt;
    return rate;
}

std::optional<QSerialPort::Parity> parseParity(QStringView field)
{
    if (field.size() != 1)
        return std::nullopt;
    switch (field.at(0).toLower().unicode()) {
    case u'n':
        return QSerialPort::NoParity;
    case u'e':
        return QSerialPort::EvenParity;
    case u'o':
        return QSerialPort::OddParity;
    case u'm':
        return QSerialPort::MarkParity;
    case u's':
        return QSerialPort::SpaceParity;
    default:
        return std::nullopt;
    }
}

std::optional<QSerialPort::DataBits> parseDataBits(QStringView field)
{
    if (field == u"5")
        return QSerialPort::Data5;
    if (field == u"6")
        return QSerialPort::Data6;
    if (field == u"7")
        return QSerialPort::Data7;
    if (field == u"8")
        return QSerialPort::Data8;
    return std::nullopt;
}

std::optional<QSerialPort::StopBits> parseStopBits(QStringView field)
{
    if (field == u"1")
        return QSerialPort::OneStop;
    if (field == u"1.5")
        return QSerialPort::OneAndHalfStop;
    if (field == u"2")
        return QSerialPort::TwoStop;
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> parseLineSettings(QStringView settings)
{
    const QList<QStringView> fields = settings.split(u',');
    if (fields.size() != 4)
        return std::nullopt;
    const auto baudRate = parseBaudRate(fields[0].trimmed());
    const auto parity = parseParity(fields[1].trimmed());
    const auto dataBits = parseDataBits(fields[2].trimmed());
    const auto stopBits = parseStopBits(fields[3].trimmed());
    if (!baudRate || !parity || !dataBits || !stopBits)
        return std::nullopt;
    return LineSettings{*baudRate, *parity, *dataBits, *stopBits};
}
