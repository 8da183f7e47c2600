#include "commandframes.h"

namespace commandframes {

namespace {
constexpr qsizetype counterWidth = 4;
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

QString paddedCounter(const QString &counter)
{
    return counter.size() >= counterWidth ? counter
                                          : QString(counterWidth - counter.size(), u'0') + counter;
}

QByteArray byteField(quint8 value)
{
    return QByteArray(1, char(value));
}

} // namespace commandframes
