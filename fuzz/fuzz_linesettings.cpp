// Any settings string, as the settings file's bytes make it: a string that parses names a
// usable line, says the same when written back in its plain form, and never takes a fifth field.
#include "codepage.h"
#include "fuzzcheck.h"
#include "linesettings.h"

namespace {

QString plainForm(const LineSettings &line)
{
    const auto parity = [&] {
        switch (line.parity) {
        case QSerialPort::EvenParity:
            return u'e';
        case QSerialPort::OddParity:
            return u'o';
        case QSerialPort::MarkParity:
            return u'm';
        case QSerialPort::SpaceParity:
            return u's';
        default:
            return u'n';
        }
    }();
    const QString stop =
        line.stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5") : QString::number(int(line.stopBits));
    return QStringLiteral("%1,%2,%3,%4").arg(line.baudRate).arg(QChar(parity)).arg(int(line.dataBits)).arg(stop);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString settings = codepage::toUnicode(QByteArrayView(data, qsizetype(size)));
    const std::optional<LineSettings> line = parseLineSettings(settings);
    if (!line)
        return 0;
    fuzzcheck::require(line->baudRate >= 1 && line->baudRate <= 4'000'000, "a baud rate a UART can be set to");
    fuzzcheck::require(line->baudRate == settings.section(u',', 0, 0).trimmed().toInt(),
                       "the baud rate is the first field's number");
    fuzzcheck::require(line->dataBits >= QSerialPort::Data5 && line->dataBits <= QSerialPort::Data8, "5 to 8 data bits");
    fuzzcheck::require(parseLineSettings(plainForm(*line)) == line, "the plain form says the same");
    fuzzcheck::require(!parseLineSettings(settings + QStringLiteral(",n")), "a fifth field is refused");
    return 0;
}
