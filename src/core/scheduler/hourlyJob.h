#pragma once
// The hourly upload's one job: an hour, from its connect stage to its last try.
//
// Every hour has three stages, each on a timer of its own that ticks twice a second:
// connect ten seconds before the set second, upload at it, disconnect ten seconds after.
// An hour whose image did not land for a reason that may pass is tried again until it
// lands or the next hour's cycle draws near. Stages and tries are runs of one set of
// steps; where they differ, this table says how (and the job's code follows it):
//
//   run               steps                          a step that fails
//   connect stage     Connect, List                  shows its box; the run ends
//   upload stage      ChangeFolder, Upload           shows its box; a refused folder
//                                                    does not stop the upload, which
//                                                    goes into the current folder
//   disconnect stage  Disconnect                     (none fails)
//   try               CheckImage, Connect (only      shows nothing; ends the try, and
//                     without a session), Change-    a try that logged in says goodbye
//                     Folder, Upload, Goodbye (only
//                     after its own login)
//
// So a try costs no login while the image is missing or empty, and never sends into
// another folder than the hour's.
//
// The window feeds the job what happened: each tick (the wall clock, a clock that never
// jumps, the minute and second boxes as they read, the session as it stands), the
// outcome of each step it carried out, the stopping of the hourly upload and the
// program's end. The job answers what to do: a run to carry out, a notice to show, the
// call under way to cut short; after each step, the next step and whether its failure
// is the operator's to see. Every decision about the hour is taken here, when the
// outcome comes in, before the window opens any box: a box is never waited for, and the
// hour goes on while it stays open.
//
// Hours never overlap. An hour is known by the date and time of its upload second. A try
// still under way when the next hour's cycle begins is cut short and the next hour's
// stage runs; an hour is decided as not sent as soon as no further try fits before the
// next hour's connect stage.
//
// Everything here belongs to the window's thread.

#include "core/ftp/ftpSession.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

// What a timer's tick saw.
struct HourlyTick {
    QDateTime now;        // the wall clock, as the clock label shows it
    double monotonic = 0; // seconds on a clock that never jumps
    QString minuteBox;    // the set minute and second, as the boxes read
    QString secondBox;    //
    bool internetOpen = false;
    bool connected = false; // a session is open, the operator's or the job's
    bool busy = false;      // a call is under way, or a click waits for one
    bool serverEmpty = false;
};

// The image an hour sends, and where: read from the window when its upload second
// comes, so its tries send that hour's image even after the window has moved on.
struct HourImage {
    QString localFile;  // the upper path box
    QString remoteName; // its name on the server
    QString folder;     // the upload folder of the lower path box; "\" for the root
    QString unreadable; // why the folder box cannot be read; empty when it can
};

enum class HourlyRunKind { ConnectStage, UploadStage, DisconnectStage, Try };

enum class HourlyStep {
    CheckImage,   // is the image there, and not empty?
    Connect,      // log in (a stage's login also shows the server in the tree)
    List,         // the starting folder into the tree, as Connect shows it
    ChangeFolder, // into the hour's upload folder
    Upload,       // the image, under its temporary name, then renamed
    Disconnect,   // close the session as the Disconnect button does
    Goodbye,      // close the try's own login
    Done,
};

struct HourlyRun {
    int id = 0;
    HourlyRunKind kind = HourlyRunKind::ConnectStage;
    HourlyStep first = HourlyStep::Done;
    HourImage image; // the upload stage and a try
};

enum class HourlyNotice { None, EnterServer, ChooseFileToUpload };

// What a tick comes to.
struct HourlyAnswer {
    std::optional<HourlyRun> run; // to be carried out now
    HourlyNotice notice = HourlyNotice::None;
    bool cutShort = false; // the call under way is to be cut short: the job's try must make way
    QString fault;         // the tick ends on this run-time fault, after the above
};

// What a step's outcome comes to.
struct HourlyNext {
    HourlyStep step = HourlyStep::Done;
    bool showFailure = false;        // the step's failure is the operator's to see
    QList<std::uint64_t> closeBoxes; // the hour landed: the boxes its failures opened go
};

// An hour whose outcome is known: it landed, or it will not be sent.
struct HourOutcome {
    QDateTime due;   // its upload second
    HourImage image; // as read then
    bool landed = false;
    int tries = 0;         // the tries it took; 0: its stage sent it, or none was made
    QString reason;        // why it was not sent, in a few words; empty when it landed
    bool cutByEnd = false; // not sent because the program ended while it was still open
};

class HourlyJob {
public:
    // The ticks of the three stages' timers; each stage's own rule decides whether it is
    // its time. The upload stage's tick also brings the image as the window shows it.
    HourlyAnswer connectTick(const HourlyTick& tick);
    HourlyAnswer uploadTick(const HourlyTick& tick, const HourImage& image);
    HourlyAnswer disconnectTick(const HourlyTick& tick);
    // After an answer of the session, once the clicks that waited for it have been
    // served: a stage that came due while a call was under way runs now, if it still may.
    HourlyAnswer idle(const HourlyTick& tick);

    // The outcome of a run's step, at `now` on the wall clock: nullopt when it went
    // through.
    HourlyNext stepDone(int run, HourlyStep step, const std::optional<FtpFailure>& failure, const QDateTime& now);
    // The run ended on a run-time fault before its next step.
    void runFaulted(int run);
    // The window showed a box for a failure of this run.
    void boxOpened(int run, std::uint64_t box);

    // The uploads are stopped (毎時転送停止, Disconnect, an arming refused): an hour under
    // way is not sent, unless what runs for it now lands it.
    void stopped(const QString& why);
    // The program ends, and with it every call: nothing runs any more.
    void ending(const QString& why);

    // A stage waits for the call under way.
    bool waiting() const { return m_lateConnect.has_value() || m_lateDisconnect.has_value(); }

    // Each hour once its outcome is known.
    std::function<void(const HourOutcome&)> onOutcome;

private:
    enum class State { Sending, Retrying, Landed, NotSent };
    struct Hour {
        QDateTime due;           // its upload second
        double dueMonotonic = 0; // when that second came: a set-back clock repeats it
        HourImage image;
        State state = State::Sending;
        int tries = 0;              // tries begun
        QDateTime nextTry;          // while Retrying and none runs
        QString failed;             // Sending: a send failed in a way that will not pass; why
        QString lastFailure;        // the latest failure, in a few words
        QString stopping;           // stopped while a run of its own was under way; why
        QList<std::uint64_t> boxes; // the boxes its failures opened
        bool settled() const { return state == State::Landed || state == State::NotSent; }
    };
    struct Run {
        HourlyRun run;
        QDateTime due;           // the upload second of the hour it serves
        bool hadSession = false; // a session was open when it began
        bool loggedIn = false;   // a try: a session is open for it, its own or the operator's
        bool cut = false;        // cut short to make way for the next hour
    };
    struct Connected {
        QDateTime due; // the upload second the connect stage was for
        std::optional<FtpFailure> failure;
        QList<std::uint64_t> boxes; // its failure's box, which the hour takes over
    };

    HourlyAnswer keepTime(const HourlyTick& tick);
    HourlyAnswer beginHour(const HourlyTick& tick, const QDateTime& due, const HourImage& image);
    HourlyAnswer connectStage(const HourlyTick& tick, const QDateTime& due);
    HourlyAnswer start(HourlyRunKind kind, const QDateTime& due, const HourlyTick& tick, HourImage image = {});
    HourlyStep afterTry(Run& run) const;
    HourlyNext uploadDone(Run& run, const std::optional<FtpFailure>& failure, const QDateTime& now);
    HourlyNext tryStepDone(Run& run, HourlyStep step, const std::optional<FtpFailure>& failure, const QDateTime& now);
    void tryFailed(const FtpFailure& failure, const QDateTime& now);
    void planFirstTry(const QString& reason, const QDateTime& now);
    void runEnded();
    bool hourRuns() const;
    void landed();
    void notSent(const QString& why, bool cutByEnd = false);
    // The next hour's cycle begins: an hour still open is not sent, and a run of its own
    // still under way is cut short (what it sends now may still land it).
    void endOpenHour(HourlyAnswer& answer);
    Hour* openHour() { return m_hour && !m_hour->settled() ? &*m_hour : nullptr; }

    std::optional<Hour> m_hour;             // the latest hour whose upload second came
    std::optional<Run> m_run;               // the run under way, if any
    std::optional<Connected> m_connected;   // the latest connect stage's outcome
    std::optional<QDateTime> m_lateConnect; // came due during a call: the upload second it is for
    std::optional<double> m_lateDisconnect; // came due during a call: since when (monotonic)
    int m_lastRun = 0;                      // the id of the latest run begun
    std::optional<Run> m_ended;             // the latest run that ended: its boxes come after
};
