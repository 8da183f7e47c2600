#pragma once

#include <QSerialPort>
#include <QStringView>

#include <algorithm>
#include <chrono>
#include <optional>

// Line parameters of a classic settings string such as "4800,n,8,1".
struct LineSettings
{
    qint32 baudRate = 4800;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    // One byte's time on the line: ten bit times (start, 8 data, stop). In nanoseconds, since
    // whole seconds over a baud rate are 0.
    std::chrono::nanoseconds byteTime() const
    {
        return std::chrono::nanoseconds(std::chrono::seconds(10)) / std::max(1, baudRate);
    }
    std::chrono::milliseconds timeFor(qint64 bytes) const
    {
        return std::chrono::ceil<std::chrono::milliseconds>(bytes * byteTime());
    }

    friend bool operator==(const LineSettings &, const LineSettings &) = default;
};

// Reads "baud,parity,data,stop" leniently: blanks around each field, the parity letter in
// either case. nullopt for anything else (missing or extra fields, a baud rate of 0).
std::optional<LineSettings> parseLineSettings(QStringView settings);
