#include "core/scheduler/hourlyRules.h"

#include "core/base/runtimeFault.h"

bool ConnectStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now)
{
    return minuteBox == now.minute && NumericValue(secondBox) - 10 == NumericValue(now.second);
}

bool UploadStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now)
{
    return minuteBox == now.minute && secondBox == now.second;
}

bool DisconnectStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now)
{
    return NumericValue(minuteBox) == NumericValue(now.minute) &&
           StrictNumber(secondBox) + 10 == NumericValue(now.second);
}

QString RemoteFolderOf(const QString& serverName, const QString& destination)
{
    if (destination.size() < serverName.size())
        throw RuntimeFault("destination shorter than the server name");
    return destination.mid(serverName.size());
}

QString FolderChangeTarget(const QString& serverName, const QString& path)
{
    // "contains", not "starts with": a path naming the server anywhere has the server
    // name's length taken off its front, as it always has.
    const QString target = path.contains(serverName) ? path.mid(serverName.size()) : path;
    return target.isEmpty() ? QStringLiteral("/") : target;
}

bool HourlyTimeInRange(const QString& minuteBox, const QString& secondBox)
{
    return NumericValue(secondBox) <= 59 && NumericValue(minuteBox) <= 59;
}
