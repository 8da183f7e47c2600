#include "comnumber.h"

#include <QRegularExpression>

int comNumber(const QString &name)
{
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,2})$"), QRegularExpression::CaseInsensitiveOption);
    const auto match = com.match(name);
    const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
    return number <= highestPortNumber ? number : 0;
}
