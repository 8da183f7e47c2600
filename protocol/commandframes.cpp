#include "commandframes.h"

#include <array>
#include <utility>

namespace commandframes {

namespace {
constexpr qsizetype byteFields(qsizetype count)
{
    return 2 + count;
}
} // namespace

qsizetype fixedLength(QByteArrayView frame)
{
    static constexpr std::array<std::pair<QByteArrayView, qsizetype>, 10> lengths{{
        {readInformation, 2},
        {readCardCounter, 2},
        {zeroCardCounter, 2},
        {access, 2},
        {reset, 2},
        {setTime, byteFields(2)},
        {messageLoad, byteFields(2)},
        {setDate, byteFields(4)},
        {assignCardCounter, 2 + paddedWidth},
        {cardFrameCode, cardFrameLength},
    }};
    for (const auto &[code, length] : lengths) {
        if (frame.startsWith(code))
            return length;
    }
    return 0;
}

QByteArray companyName(QByteArrayView name)
{
    return companyNameCode.toByteArray().append(name);
}

QByteArray freeCommand(QByteArrayView command)
{
    return freeCommandCode.toByteArray().append(command);
}

QByteArray dial(QByteArrayView phoneNumber)
{
    return dialPrefix.toByteArray().append(phoneNumber).append(dialEnd);
}

QString zeroPadded(const QString &text)
{
    return text.size() >= paddedWidth ? text : QString(paddedWidth - text.size(), u'0') + text;
}

QByteArray byteField(quint8 value)
{
    return QByteArray(1, char(value));
}

} // namespace commandframes
