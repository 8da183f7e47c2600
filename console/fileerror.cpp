#include "fileerror.h"

#include <cerrno>
#include <cstring>

QString fileErrorText(int errnum)
{
    switch (errnum) {
    case 0:
        return QStringLiteral("dosyaya yazılamadı");
    case ENOSPC:
        return QStringLiteral("disk dolu");
    case EDQUOT:
        return QStringLiteral("disk kotası doldu");
    case EACCES:
        return QStringLiteral("erişim izni yok");
    case EROFS:
        return QStringLiteral("salt okunur dosya sistemi");
    case ENOENT:
        return QStringLiteral("klasör yok");
    }
    // strerror names a number it does not know "Unknown error N", which tells the operator nothing.
    if (!::strerrorname_np(errnum))
        return QStringLiteral("sistem hatası %1").arg(errnum);
    return QString::fromLocal8Bit(::strerror(errnum));
}
