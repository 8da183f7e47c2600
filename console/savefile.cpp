#include "savefile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

QString fileErrorText(int errnum)
{
    switch (errnum) {
    case 0:
        return QStringLiteral("dosyaya yazılamadı");
    case ENOSPC:
        return QStringLiteral("disk dolu");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("disk kotası doldu");
#endif
    case EACCES:
        return QStringLiteral("erişim izni yok");
    case EROFS:
        return QStringLiteral("salt okunur dosya sistemi");
    case ENOENT:
        return QStringLiteral("klasör yok");
    }
    // strerror names a number it does not know "Unknown error N", which tells the operator nothing.
#ifdef Q_OS_WIN
    return QStringLiteral("sistem hatası %1").arg(errnum);
#else
    if (!::strerrorname_np(errnum))
        return QStringLiteral("sistem hatası %1").arg(errnum);
    return QString::fromLocal8Bit(::strerror(errnum));
#endif
}

namespace {

// Where `path` leads, following each link only when the operator or root owns it and passing
// each folder only when one of them owns it: another user could turn either, at any time,
// towards a file of ours (the kernel's protected symlinks guard only sticky folders). Gives the
// reason when refused; `resolved` then holds no link, so the save follows none of its own.
std::optional<QString> othersWay(const QString &path, QString &resolved)
{
#ifdef Q_OS_WIN
    // A user's folders are not open to others there by default: nothing to walk.
    resolved = path;
    return std::nullopt;
#else
    QStringList pending = (path.startsWith(u'/') ? path : QDir::currentPath() + u'/' + path).split(u'/', Qt::SkipEmptyParts);
    QString done; // resolved so far, "" for the root
    for (int links = 0; !pending.isEmpty();) {
        const QString part = pending.takeFirst();
        if (part == u"." || part == u"..") {
            if (part == u"..")
                done.truncate(std::max<qsizetype>(done.lastIndexOf(u'/'), 0));
            continue;
        }
        const QString next = done + u'/' + part;
        const QByteArray name = QFile::encodeName(next);
        struct stat entry
        {
        };
        if (::lstat(name.constData(), &entry) != 0) {
            // What is missing the save makes, or fails to make.
            resolved = pending.isEmpty() ? next : next + u'/' + pending.join(u'/');
            return std::nullopt;
        }
        const bool others = entry.st_uid != ::geteuid() && entry.st_uid != 0;
        if (others && S_ISLNK(entry.st_mode))
            return QStringLiteral("başka bir kullanıcının sembolik bağlantısı: %1").arg(next);
        if (others && S_ISDIR(entry.st_mode) && !pending.isEmpty())
            return QStringLiteral("başka bir kullanıcının klasörü: %1").arg(next);
        if (!S_ISLNK(entry.st_mode)) {
            done = next;
            continue;
        }
        char target[PATH_MAX];
        const ssize_t length = ::readlink(name.constData(), target, sizeof target);
        if (length <= 0 || size_t(length) == sizeof target || ++links > 40)
            return fileErrorText(ELOOP);
        const QString to = QFile::decodeName(QByteArray(target, length));
        if (to.startsWith(u'/'))
            done.clear();
        pending = to.split(u'/', Qt::SkipEmptyParts) + pending;
    }
    resolved = done.isEmpty() ? QStringLiteral("/") : done;
    return std::nullopt;
#endif
}

} // namespace

std::optional<QString> saveWhole(const QString &path, QByteArrayView bytes)
{
    QString resolved;
    if (const auto refused = othersWay(path, resolved))
        return refused;
    QSaveFile file(resolved);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return fileErrorText(errno);
#ifdef Q_OS_WIN
    // The file is a system handle there, without errno: the reason stays general.
    if (file.write(bytes.data(), bytes.size()) != bytes.size())
        return fileErrorText(0);
#else
    // Written past Qt's buffer, so that a failed write still has its errno to tell why.
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(file.handle(), bytes.data() + done, size_t(bytes.size() - done));
        if (written < 0 && errno != EINTR)
            return fileErrorText(errno);
        done += std::max<ssize_t>(written, 0);
    }
#endif
    errno = 0;
    if (file.commit())
        return std::nullopt;
    return fileErrorText(errno);
}
