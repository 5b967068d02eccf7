// The three stages of an hourly cycle: connect ten seconds before the set second,
// upload at it, disconnect ten seconds after; and the tries of an hour that did not
// land. Each stage's timer reads the window on every tick and asks the hourly job what
// to do; the job decides, and the window carries its answer out with the session's
// calls, step by step, telling the job each step's outcome before it shows any box.
#include "core/base/runtimeFault.h"
#include "core/scheduler/hourlyRules.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>

using namespace wininet;

HourlyTick FTPform::hourlyTick()
{
    HourlyTick tick;
    tick.now = m_platform.now();
    tick.monotonic = m_platform.monotonicSeconds();
    tick.minuteBox = Text8->text();
    tick.secondBox = Text6->text();
    tick.internetOpen = m_session.internetOpen();
    tick.connected = m_session.connected();
    tick.busy = m_session.busy() || !m_waitingClicks.empty();
    tick.serverEmpty = text1->text().isEmpty();
    return tick;
}

HourImage FTPform::hourImage()
{
    HourImage image;
    image.localFile = Text5->text();
    image.remoteName = sSendFile;
    try {
        image.folder = remoteFolderOf(text1->text(), text4->text());
    } catch (const RuntimeFault& fault) {
        image.unreadable = QString::fromUtf8(fault.what());
    }
    if (image.folder.isEmpty())
        image.folder = QStringLiteral("\\");
    return image;
}

HourlyTick FTPform::stageTick()
{
    HourlyTick tick = hourlyTick();
    // The clock label shows the time the stage compares with.
    Label6->setText(clockText(tick.now.time()));
    return tick;
}

Task<> FTPform::Timer5_Timer()
{
    co_await carryOut(m_hourly.connectTick(stageTick()));
}

Task<> FTPform::Timer4_Timer()
{
    Label13->setText(kHourlyRunning);
    const HourlyTick tick = stageTick();
    co_await carryOut(m_hourly.uploadTick(tick, hourImage()));
}

Task<> FTPform::Timer6_Timer()
{
    co_await carryOut(m_hourly.disconnectTick(stageTick()));
}

Task<> FTPform::carryOut(HourlyAnswer answer)
{
    if (answer.cutShort)
        m_session.cutShort(QStringLiteral("the next hour's cycle begins"));
    if (answer.notice == HourlyNotice::EnterServer)
        m_platform.showMessage(kEnterServer);
    else if (answer.notice == HourlyNotice::ChooseFileToUpload)
        m_platform.showMessage(kChooseFileToUpload);
    if (!answer.fault.isEmpty())
        throw RuntimeFault(answer.fault.toStdString());
    if (answer.run)
        co_await runHourly(*answer.run);
}

void FTPform::startHourly(const HourlyAnswer& answer)
{
    if (!answer.run && answer.notice == HourlyNotice::None)
        return;
    // A stage that came due during a call, with its own fault handling.
    const bool connect = !answer.run || answer.run->kind == HourlyRunKind::ConnectStage;
    m_handlers.start(carryOut(answer), [this, connect](const std::exception_ptr& fault) {
        if (fault)
            reportFault(connect ? "Timer5_Timer" : "Timer6_Timer", connect ? kSettingsWrong : QString(), fault);
    });
}

Task<> FTPform::runHourly(HourlyRun run)
{
    // Everything the run needs of the window, read before its first wait: the refresher
    // may roll the boxes on to the next hour meanwhile, and the operator may type.
    const QString server = text1->text();
    const QString user = text2->text();
    const QString password = text3->text();
    const bool passive = chkPassive->isChecked();
    const std::int32_t transferType = lTransferType;
    const bool quiet = run.kind == HourlyRunKind::Try; // the hour showed its box when it first failed

    HourlyStep step = run.first;
    try {
        while (step != HourlyStep::Done) {
            std::optional<FtpFailure> failure;
            switch (step) {
            case HourlyStep::CheckImage: {
                // An image still missing or empty costs no login.
                const QFileInfo image(run.image.localFile);
                if (!image.isFile())
                    failure = FtpFailure{ERROR_FILE_NOT_FOUND, QStringLiteral("FtpPutFile"), {}, {}};
                else if (image.size() == 0)
                    failure = FtpFailure{ERROR_HANDLE_EOF, QStringLiteral("FtpPutFile"), {}, {}};
                break;
            }
            case HourlyStep::Connect:
                failure = co_await m_session.connect(server, user, password, passive);
                if (!failure)
                    EnableUI(true);
                break;
            case HourlyStep::List:
                co_await showNewSession(server); // as the Connect button shows it
                break;
            case HourlyStep::ChangeFolder:
                failure = co_await m_session.changeFolder(folderChangeTarget(server, run.image.folder));
                break;
            case HourlyStep::Upload:
                failure = co_await m_session.putFile(run.image.localFile, run.image.remoteName, transferType);
                break;
            case HourlyStep::Disconnect:
                co_await endSession();
                break;
            case HourlyStep::Goodbye:
                co_await m_session.disconnect();
                EnableUI(true);
                break;
            case HourlyStep::Done:
                break;
            }
            // The job decides first; a box it leaves to show is shown after, and never
            // waited for.
            const HourlyNext next = m_hourly.stepDone(run.id, step, failure, m_platform.now());
            for (const std::uint64_t box : next.closeBoxes)
                m_platform.closeMessage(box);
            if (failure && next.showFailure && !quiet) {
                const MessageId box =
                    step == HourlyStep::ChangeFolder ? m_platform.showMessage(kFolderWrong) : ErrorOut(*failure);
                m_hourly.boxOpened(run.id, box);
            }
            step = next.step;
        }
    } catch (...) {
        m_hourly.runFaulted(run.id);
        throw;
    }
}
