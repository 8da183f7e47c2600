#include "openline.h"

#include "commerror.h"
#include "networkline.h"
#include "portmap.h"
#include "serialline.h"

std::unique_ptr<Line> openLine(const QString &device, const LineSettings &settings, std::chrono::milliseconds connectTimeout)
{
    if (!portmap::isNetworkUrl(device))
        return SerialLine::open(device, settings);
    const auto target = portmap::parseNetworkTarget(device);
    if (!target)
        throw CommError(commerror::PortNotFound);
    auto line = std::make_unique<NetworkLine>(*target, settings);
    line->start(connectTimeout);
    return line;
}
