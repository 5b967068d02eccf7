#pragma once
// What becomes of each hour beyond the window, once its outcome is known: its line in
// uploads.csv, a word in the log when its image is stale, and the messages to the owner
// that alert.txt asks for (see ownerAlerts.h and messenger.h). Without alert.txt no
// message goes anywhere; the record is kept all the same.

#include "core/app/messenger.h"
#include "core/scheduler/hourlyJob.h"
#include "core/scheduler/ownerAlerts.h"
#include "core/scheduler/uploadRecord.h"

#include <memory>

class HourReports {
public:
    // Reads alert.txt in the folder (naming its mistakes in the log) and the end of the
    // record (the lost hours in a row).
    explicit HourReports(const QString& folder, Messenger::Timing timing = {});
    ~HourReports();
    HourReports(const HourReports&) = delete;
    HourReports& operator=(const HourReports&) = delete;

    void hourDecided(const HourOutcome& outcome);
    // The messages' end; true when their thread had to be left behind.
    bool end();

private:
    UploadRecord m_record;
    std::optional<OwnerAlerts> m_alerts;    // with alert.txt only
    std::unique_ptr<Messenger> m_messenger; // with somewhere to send to only
};

// The last lines of the event log, for a message about lost hours.
QStringList logTail(int lines);
