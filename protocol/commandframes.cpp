#include "commandframes.h"

namespace commandframes {

namespace {
constexpr qsizetype paddedWidth = 4;
}

QByteArray companyName(QByteArrayView name)
{
    return QByteArray("@F").append(name);
}

QByteArray freeCommand(QByteArrayView command)
{
    return QByteArray("@").append(command);
}

QByteArray dial(QByteArrayView phoneNumber)
{
    return QByteArray("ATDT").append(phoneNumber).append("\r\n");
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
