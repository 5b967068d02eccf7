#pragma once
// When each stage of an hourly cycle acts, and where the upload goes. The three stages
// read the minute and second boxes in three different ways; a box holding two digits
// behaves the same in all three, anything else shows the difference, and operators'
// files may rely on it, so each rule is kept exactly.

#include "core/scheduler/clockText.h"

#include <QString>

// Connect, ten seconds before the set second: the minute box equals the clock's minute
// text character for character; the second box's numeric value minus 10 equals the
// clock's second.
bool connectStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now);

// Upload, at the set second: both boxes equal the clock's texts character for character.
bool uploadStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now);

// Disconnect, ten seconds after: numeric minute values equal; the second box read
// strictly as a number, plus 10, equals the clock's second. Throws RuntimeFault when the
// second box is not a number.
bool disconnectStageDue(const QString& minuteBox, const QString& secondBox, const ClockParts& now);

// The server folder of the destination box, which holds the server name followed by the
// folder: the box without its first serverName.size() characters. Throws RuntimeFault
// when the box is shorter than the server name.
QString remoteFolderOf(const QString& serverName, const QString& destination);

// The folder a change of folder is made to: a path naming the server has it taken off,
// and nothing left means the root.
QString folderChangeTarget(const QString& serverName, const QString& path);

// Whether the hourly arming accepts the boxes' values: both at most 59.
bool hourlyTimeInRange(const QString& minuteBox, const QString& secondBox);
