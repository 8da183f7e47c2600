#include "portmap.h"

#include "comnumber.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTemporaryFile>

#ifdef Q_OS_WIN
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

namespace portmap {
namespace {

// The map's text without any later line for a COMn that an earlier line of [ports] names:
// QSettings would let the last one win, and a reader of the file expects the first.
QByteArray withoutRepeats(const QByteArray &text, bool &repeated)
{
    QByteArray kept;
    QSet<int> named;
    bool inPorts = false;
    for (const QByteArray &line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('['))
            inPorts = trimmed.startsWith("[ports]");
        const qsizetype equals = trimmed.indexOf('=');
        const int number = inPorts && equals > 0 ? comNumber(QString::fromUtf8(trimmed.first(equals).trimmed())) : 0;
        if (number > 0 && named.contains(number)) {
            repeated = true;
            continue;
        }
        named.insert(number);
        kept += line + '\n';
    }
    return kept;
}

// The [ports] group of one map, by port number.
QMap<int, QString> readMap(const QString &path)
{
    QMap<int, QString> ports;
    if (!QFileInfo(path).isFile())
        return ports;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ports;
    bool repeated = false;
    const QByteArray kept = withoutRepeats(file.readAll(), repeated);
    // Only QSettings reads INI as it does; it reads files, so a map with repeats goes through a copy.
    QTemporaryFile copy;
    if (repeated && !(copy.open() && copy.write(kept) == kept.size() && copy.flush()))
        return ports;
    QSettings map(repeated ? copy.fileName() : path, QSettings::IniFormat);
    map.beginGroup(QStringLiteral("ports"));
    for (const QString &key : map.childKeys()) {
        const int number = comNumber(key);
        const QVariant value = map.value(key);
        // QSettings reads an unquoted comma as a list; a path may hold one.
        const QString target =
            value.typeId() == QMetaType::QStringList ? value.toStringList().join(u',') : value.toString().trimmed();
        if (number > 0 && !target.isEmpty() && !ports.contains(number))
            ports.insert(number, target);
    }
    return ports;
}

} // namespace

std::optional<Entry> lookup(int portNumber, const QStringList &folders)
{
    for (const QString &folder : folders) {
        const QString path = QDir(folder).filePath(QLatin1String(fileName));
        const QMap<int, QString> ports = readMap(path);
        if (const auto found = ports.constFind(portNumber); found != ports.constEnd())
            return Entry{path, *found};
    }
    return std::nullopt;
}

QMap<int, QString> all(const QStringList &folders)
{
    QMap<int, QString> ports;
    for (const QString &folder : folders) {
        const QMap<int, QString> map = readMap(QDir(folder).filePath(QLatin1String(fileName)));
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!ports.contains(it.key()))
                ports.insert(it.key(), it.value());
        }
    }
    return ports;
}

bool isNetworkUrl(const QString &target)
{
    return target.startsWith(QLatin1String("rfc2217://"), Qt::CaseInsensitive)
           || target.startsWith(QLatin1String("socket://"), Qt::CaseInsensitive);
}

std::optional<NetworkTarget> parseNetworkTarget(const QString &target)
{
    // Bracketed IPv6, or a name of letters, digits, dots and hyphens; then the port.
    static const QRegularExpression url(
        QStringLiteral("^(rfc2217|socket)://(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9.-]+)):([0-9]{1,5})/?(?:\\?.*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const auto match = url.match(target);
    if (!match.hasMatch())
        return std::nullopt;
    NetworkTarget parsed;
    parsed.protocol = match.captured(1).compare(QLatin1String("rfc2217"), Qt::CaseInsensitive) == 0
                          ? NetworkTarget::Protocol::Rfc2217
                          : NetworkTarget::Protocol::RawTcp;
    const QString v6 = match.captured(2);
    in6_addr address{};
    if (!v6.isEmpty() && ::inet_pton(AF_INET6, v6.toLatin1().constData(), &address) != 1)
        return std::nullopt;
    parsed.host = v6.isEmpty() ? match.captured(3) : v6;
    if (parsed.host.startsWith(u'-') || parsed.host.startsWith(u'.'))
        return std::nullopt;
    // gensio reads these as its own words before an address, and would take the port for the
    // address and connect to this machine.
    for (const char *keyword : {"ipv4", "ipv6", "ipv6n4"}) {
        if (parsed.host.compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0)
            return std::nullopt;
    }
    const int port = match.captured(4).toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    parsed.port = quint16(port);
    return parsed;
}

} // namespace portmap
