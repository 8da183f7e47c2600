#pragma once

#include "comnumber.h"
#include "settingsfile.h"

#include <QList>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>

// How COMn is reached: `name` is what the operator's set-up made (a link beside the program,
// a port map's line, a udev link /dev/COMn, or the on-board port), `device` the device it
// leads to now, or the network URL a map names.
struct ComResolution
{
    QString name;
    QString device;
};

// The user's own folder for COMn links, $XDG_RUNTIME_DIR/terminal-kontrol: theirs alone and
// gone at logout, where the simulator links when the program's folder is not writable (an
// installed program's). Empty when XDG_RUNTIME_DIR is unset or not absolute.
QString userLinkFolder();

// COMn on Windows is what the port maps in `mapFolders` name, else the system's own \\.\COMn;
// elsewhere, in this order: a link named COMn
// beside the program, a link named COMn in `userLinks`, the port maps in `mapFolders` (the
// user's before the machine's), /dev/COMn (a udev rule's SYMLINK), the n-th on-board UART.
ComResolution resolveCom(int portNumber, const QString &programDir, const QString &devDir = QStringLiteral("/dev"),
                         const QStringList &mapFolders = settingsfile::configFolders(),
                         const QString &userLinks = userLinkFolder());
QString comDevicePath(int portNumber, const QString &programDir, const QString &devDir = QStringLiteral("/dev"));

// What the system says about a serial device, for telling adapters apart.
struct PortFacts
{
    QString device;
    bool present = false;
    QString description;
    QString manufacturer;
    QString serialNumber;
    // "0403:6001" for a USB adapter, else empty.
    QString usbId;
};

// `available` is QSerialPortInfo::availablePorts(), asked once for many devices: it is slow.
// A network URL is taken as present, without connecting.
PortFacts portFacts(const QString &device, const QList<QSerialPortInfo> &available);
