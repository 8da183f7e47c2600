// Any bytes, as a port map file and as one target: a map names only COM1 to COM255 and every
// lookup agrees with the whole map; a network target that parses holds nothing gensio would
// read as an option of its own, and says the same when written back.
#include "fuzzcheck.h"
#include "portmap.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    static QTemporaryDir folder;
    QFile map(QDir(folder.path()).filePath(QLatin1String(portmap::fileName)));
    if (!map.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    map.write(bytes);
    map.close();
    const QMap<int, QString> ports = portmap::all({folder.path()});
    for (auto it = ports.cbegin(); it != ports.cend(); ++it) {
        fuzzcheck::require(it.key() >= 1 && it.key() <= 255, "COM1 to COM255 only");
        const auto entry = portmap::lookup(it.key(), {folder.path()});
        fuzzcheck::require(entry && entry->target == it.value(), "a lookup finds what the whole map says");
    }

    const QString target = QString::fromUtf8(bytes);
    const auto parsed = portmap::parseNetworkTarget(target);
    if (!parsed)
        return 0;
    fuzzcheck::require(portmap::isNetworkUrl(target), "only a network URL parses");
    fuzzcheck::require(!parsed->host.isEmpty() && parsed->port >= 1, "a host and a port");
    for (const QChar c : parsed->host)
        fuzzcheck::require(c.isLetterOrNumber() || c == u'.' || c == u'-' || c == u':',
                           "nothing in the host but a name or an address");
    const QString host = parsed->host.contains(u':') ? u'[' + parsed->host + u']' : parsed->host;
    const QString scheme =
        parsed->protocol == portmap::NetworkTarget::Protocol::Rfc2217 ? QStringLiteral("rfc2217") : QStringLiteral("socket");
    fuzzcheck::require(portmap::parseNetworkTarget(QStringLiteral("%1://%2:%3").arg(scheme, host).arg(parsed->port))
                           == parsed,
                       "the plain form says the same");
    return 0;
}
