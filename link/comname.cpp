#include "comname.h"

#include "portmap.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSerialPortInfo>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A simulator's link leads through its own descriptor, /proc/PID/fd/N. Once it was killed, a
// new process of that PID may hold N open on anything, another terminal's line included:
// only a living simulator of this user counts.
bool simulatorsLine(const QString &target)
{
    static const QRegularExpression descriptor(QStringLiteral("^/proc/([0-9]+)/fd/[0-9]+$"));
    const auto match = descriptor.match(target);
    if (!match.hasMatch())
        return true;
    const QString process = QStringLiteral("/proc/") + match.captured(1);
    struct stat owner
    {
    };
    QString program = QFileInfo(process + QStringLiteral("/exe")).symLinkTarget();
    program.remove(QRegularExpression(QStringLiteral(" \\(deleted\\)$"))); // rebuilt while it runs
    return ::stat(QFile::encodeName(process).constData(), &owner) == 0 && owner.st_uid == ::geteuid()
           && QFileInfo(program).fileName() == QLatin1String("terminal-kontrol-sim");
}

// A dangling link (adapter unplugged) still names the device it stands for.
QString linkTarget(const QFileInfo &link)
{
    if (!simulatorsLine(link.symLinkTarget()))
        return link.symLinkTarget() + QStringLiteral(" (no simulator holds it now)");
    const QString target = link.canonicalFilePath();
    return target.isEmpty() ? link.symLinkTarget() : target;
}

} // namespace
#endif

QString userLinkFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return QDir::isAbsolutePath(runtime) ? QDir(runtime).filePath(QStringLiteral("terminal-kontrol")) : QString();
}

ComResolution resolveCom(int portNumber, const QString &programDir, const QString &devDir, const QStringList &mapFolders,
                         const QString &userLinks)
{
    const QString name = QStringLiteral("COM%1").arg(portNumber);
#ifdef Q_OS_WIN
    // No links here: a map may still make COMn a device server, else it is the system's COMn.
    Q_UNUSED(programDir);
    Q_UNUSED(devDir);
    Q_UNUSED(userLinks);
    if (const auto mapped = portmap::lookup(portNumber, mapFolders))
        return {QStringLiteral("%1: %2=%3").arg(mapped->file, name, mapped->target), mapped->target};
    return {name, QStringLiteral("\\\\.\\") + name};
#else
    const QFileInfo beside(QDir(programDir).filePath(name));
    if (beside.isSymLink())
        return {beside.filePath(), linkTarget(beside)};
    // Only the user's own simulator links here, and only where COMn was nothing else: a link
    // still, so it comes before what the maps name.
    if (const QFileInfo own(QDir(userLinks).filePath(name)); !userLinks.isEmpty() && own.isSymLink())
        return {own.filePath(), linkTarget(own)};
    // The target is part of the way: a map that names another target for COMn is another device.
    if (const auto mapped = portmap::lookup(portNumber, mapFolders))
        return {QStringLiteral("%1: %2=%3").arg(mapped->file, name, mapped->target), mapped->target};
    // udev removes its link with the adapter, so only a present /dev/COMn counts.
    const QFileInfo udev(QDir(devDir).filePath(name));
    if (udev.exists())
        return {udev.filePath(), udev.isSymLink() ? linkTarget(udev) : udev.filePath()};
    const QString onBoard = QDir(devDir).filePath(QStringLiteral("ttyS%1").arg(portNumber - 1));
    return {onBoard, onBoard};
#endif
}

QString comDevicePath(int portNumber, const QString &programDir, const QString &devDir)
{
    return resolveCom(portNumber, programDir, devDir).device;
}

PortFacts portFacts(const QString &device, const QList<QSerialPortInfo> &available)
{
    PortFacts facts;
    facts.device = device;
    if (portmap::isNetworkUrl(device)) {
        const auto target = portmap::parseNetworkTarget(device);
        facts.present = target.has_value();
        if (target)
            facts.description = target->protocol == portmap::NetworkTarget::Protocol::Rfc2217
                                    ? QStringLiteral("Ağdaki seri port sunucusu (RFC 2217)")
                                    : QStringLiteral("Ağdaki seri port sunucusu (TCP)");
        return facts;
    }
    QSerialPortInfo info;
    for (const QSerialPortInfo &port : available) {
        if (port.systemLocation() == device || port.portName() == device)
            info = port;
    }
#ifdef Q_OS_WIN
    facts.present = !info.isNull();
#else
    facts.present = QFileInfo::exists(device);
#endif
    if (!facts.present || info.isNull())
        return facts;
    facts.description = info.description();
    facts.manufacturer = info.manufacturer();
    facts.serialNumber = info.serialNumber();
    if (info.hasVendorIdentifier() && info.hasProductIdentifier())
        facts.usbId = QStringLiteral("%1:%2")
                          .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                          .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'));
    return facts;
}
