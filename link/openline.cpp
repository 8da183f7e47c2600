#include "openline.h"

#include "commerror.h"
#include "networkline.h"
#include "portmap.h"
#ifdef Q_OS_WIN
#include "winserialline.h"
using SystemSerialLine = WinSerialLine;
#else
#include "serialline.h"
using SystemSerialLine = SerialLine;
#endif

std::unique_ptr<Line> openLine(const QString &device, const LineSettings &settings, std::chrono::milliseconds connectTimeout)
{
    if (!portmap::isNetworkUrl(device))
        return SystemSerialLine::open(device, settings);
    const auto target = portmap::parseNetworkTarget(device);
    if (!target)
        throw CommError(commerror::PortNotFound);
    auto line = std::make_unique<NetworkLine>(*target, settings);
    line->start(connectTimeout);
    return line;
}
