#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

// The port maps: `terminal-kontrol.conf` (INI) in the configuration folders, whose group
// [ports] names what COMn is: a device path, rfc2217://HOST:PORT or socket://HOST:PORT.
namespace portmap {

inline constexpr char fileName[] = "terminal-kontrol.conf";

struct Entry
{
    QString file;   // the map that named COMn
    QString target; // as written there
};

// The first map, in `folders` order, that names COMn.
std::optional<Entry> lookup(int portNumber, const QStringList &folders);

// Every COMn the maps name, an earlier folder's entry winning.
QMap<int, QString> all(const QStringList &folders);

// A target reached over the network instead of through a device of this machine.
struct NetworkTarget
{
    enum class Protocol { Rfc2217, RawTcp };
    Protocol protocol = Protocol::RawTcp;
    QString host; // a name or an address; IPv6 without brackets
    quint16 port = 0;

    friend bool operator==(const NetworkTarget &, const NetworkTarget &) = default;
};

// Whether `target` is meant as a network URL (its scheme), valid or not.
bool isNetworkUrl(const QString &target);

// rfc2217://HOST:PORT or socket://HOST:PORT (a query, as pyserial users add, is ignored);
// nullopt for anything else. HOST is a DNS name, an IPv4 address or a bracketed IPv6 one:
// nothing that could pass as part of another connection description.
std::optional<NetworkTarget> parseNetworkTarget(const QString &target);

} // namespace portmap
