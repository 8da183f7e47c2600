#include "savefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

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

namespace {

// As fs.protected_symlinks: in a sticky folder that everyone may write, a link that is neither
// ours nor the folder owner's may have been planted to aim our write at a file of ours.
bool plantedLink(const QString &path)
{
    struct stat link {};
    struct stat folder {};
    if (::lstat(QFile::encodeName(path).constData(), &link) != 0 || !S_ISLNK(link.st_mode) || link.st_uid == ::geteuid())
        return false;
    if (::stat(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &folder) != 0)
        return false;
    return (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) && folder.st_uid != link.st_uid;
}

} // namespace

std::optional<QString> saveWhole(const QString &path, QByteArrayView bytes)
{
    if (plantedLink(path))
        return QStringLiteral("ortak bir klasörde başka bir kullanıcının sembolik bağlantısı");
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return fileErrorText(errno);
    // Written past Qt's buffer, so that a failed write still has its errno to tell why.
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t written = ::write(file.handle(), bytes.data() + done, size_t(bytes.size() - done));
        if (written < 0 && errno != EINTR)
            return fileErrorText(errno);
        done += std::max<ssize_t>(written, 0);
    }
    errno = 0;
    if (file.commit())
        return std::nullopt;
    return fileErrorText(errno);
}
