#include "comname.h"

#include <QDir>
#include <QFileInfo>

QString comDevicePath(int portNumber, const QString &programDir)
{
    const QString name = QStringLiteral("COM%1").arg(portNumber);
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    return name;
#else
    const QFileInfo link(QDir(programDir).filePath(name));
    if (link.isSymLink()) {
        // A dangling link (adapter unplugged) names a device that does not exist.
        const QString target = link.canonicalFilePath();
        return target.isEmpty() ? link.symLinkTarget() : target;
    }
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}
