#include "core/scheduler/hourlyRules.h"

#include "core/base/runtimeFault.h"

bool connectStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now)
{
    return minuteBox == now.minute && numericValue(secondBox) - 10 == numericValue(now.second);
}

bool uploadStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now)
{
    return minuteBox == now.minute && secondBox == now.second;
}

bool disconnectStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now)
{
    return numericValue(minuteBox) == numericValue(now.minute) &&
           strictNumber(secondBox) + 10 == numericValue(now.second);
}

QString remoteFolderOf(const QString& serverName, const QString& destination)
{
    if (destination.size() < serverName.size())
        throw RuntimeFault("destination shorter than the server name");
    return destination.mid(serverName.size());
}

QString folderChangeTarget(const QString& serverName, const QString& path)
{
    // "contains", not "starts with": a path naming the server anywhere has the server
    // name's length taken off its front, as it always has.
    const QString target = path.contains(serverName) ? path.mid(serverName.size()) : path;
    return target.isEmpty() ? QStringLiteral("/") : target;
}

bool hourlyTimeInRange(const QString& minuteBox, const QString& secondBox)
{
    return numericValue(secondBox) <= 59 && numericValue(minuteBox) <= 59;
}
