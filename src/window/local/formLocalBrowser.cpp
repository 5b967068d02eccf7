// The drive, folder and file lists follow each other.
#include "core/base/eventLog.h"
#include "window/app/ftpForm.h"
#include "window/local/dirListBox.h"
#include "window/local/driveListBox.h"
#include "window/local/fileListBox.h"

void FTPform::Drive1_Change()
{
    try {
        Dir1->setPath(Drive1->drive());
    } catch (const std::exception& fault) {
        // A volume that is not ready sends all three lists back to the system drive,
        // without a word. Setting the drive runs this handler again for that drive.
        eventlog::fault("Drive1_Change", fault, QStringLiteral("back to the system drive"));
        try {
            Drive1->setDrive(DriveListBox::fallbackDrive());
            Dir1->setPath(Drive1->drive());
        } catch (const std::exception& again) {
            // Not even the system drive can be shown: the lists stay where they were.
            eventlog::fault("Drive1_Change", again, QStringLiteral("the lists stay where they were"));
        }
    }
}

void FTPform::Dir1_Change()
{
    File1->setPath(Dir1->path());
}
