#include "core/ftp/sessionThread.h"

#include "core/base/eventLog.h"
#include "core/base/threadsLeftBehind.h"
#include "core/ftp/cancellation.h"
#include "core/ftp/modWinInet.h"

#include <chrono>
#include <future>

using namespace wininet;

namespace {
// How long the end waits for a polite goodbye (and a rename under way) before it cuts
// the connection, and how long after that for the thread to come out of the call.
constexpr auto kGoodbyeBound = std::chrono::milliseconds(700);
constexpr auto kCutBound = std::chrono::milliseconds(200);
// The Internet handle reaches no network; only loading libcurl takes any time.
constexpr auto kOpenBound = std::chrono::seconds(10);
} // namespace

SessionThread::SessionThread(QObject* parent) : QObject(parent), m_shared(std::make_shared<Shared>())
{
    m_shared->cancel = std::make_shared<Cancellation>();
    m_shared->owner = this;
    m_thread = std::thread([shared = m_shared] { work(shared); });
}

SessionThread::~SessionThread()
{
    end(Ending::Abandon, QStringLiteral("the window is gone"));
}

SessionThread::Call<std::optional<FtpFailure>> SessionThread::connect(const QString& server, const QString& user,
                                                                      const QString& password, bool passive)
{
    return call<std::optional<FtpFailure>>(QStringLiteral("InternetConnect"),
                                           [=](FtpSession& s) { return s.connect(server, user, password, passive); });
}

SessionThread::Call<void> SessionThread::disconnect()
{
    return call<void>(
        QStringLiteral("InternetCloseHandle"), [](FtpSession& s) { s.disconnect(); },
        [this](std::monostate&) { m_listing.clear(); });
}

SessionThread::Call<std::optional<FtpFailure>> SessionThread::changeFolder(const QString& folder)
{
    return call<std::optional<FtpFailure>>(QStringLiteral("FtpSetCurrentDirectory"),
                                           [=](FtpSession& s) { return s.changeFolder(folder); });
}

SessionThread::Call<ListResult> SessionThread::list()
{
    return call<ListResult>(
        QStringLiteral("FtpFindFirstFile"), [](FtpSession& s) { return s.list(); },
        [this](ListResult& result) { m_listing = result.entries; });
}

SessionThread::Call<std::optional<FtpFailure>>
SessionThread::putFile(const QString& localFile, const QString& remoteName, std::int32_t transferType)
{
    return call<std::optional<FtpFailure>>(QStringLiteral("FtpPutFile ") + remoteName, [=](FtpSession& s) {
        return s.putFile(localFile, remoteName, transferType);
    });
}

SessionThread::Call<std::optional<ServerIdentity>> SessionThread::lookAtHostKey(const QString& server)
{
    return call<std::optional<ServerIdentity>>(QStringLiteral("host key of ") + server,
                                               [=](FtpSession&) { return FtpSession::lookAtHostKey(server); });
}

std::optional<FtpFailure> SessionThread::openInternetNow(const QString& proxy)
{
    using Opened = std::pair<std::optional<FtpFailure>, std::int32_t>;
    auto opened = std::make_shared<std::promise<Opened>>();
    auto waiting = std::make_shared<WaitingFor<void>>();
    waiting->dropped = true; // answered here, not through a coroutine
    waiting->counted = false;
    waiting->work = [proxy, opened](FtpSession& s) {
        try {
            opened->set_value({s.openInternet(proxy), s.m_internet});
        } catch (...) {
            opened->set_exception(std::current_exception());
        }
    };
    auto answer = opened->get_future();
    give(Job{QStringLiteral("InternetOpen"), waiting});
    if (m_ended)
        return FtpFailure{ERROR_INTERNET_OPERATION_CANCELLED, QStringLiteral("InternetOpen"), {}, {}};
    if (answer.wait_for(kOpenBound) != std::future_status::ready) {
        eventlog::warning(QStringLiteral("session: the Internet handle did not open within %1 s")
                              .arg(std::chrono::seconds(kOpenBound).count()));
        return FtpFailure{ERROR_INTERNET_TIMEOUT, QStringLiteral("InternetOpen"), {}, {}};
    }
    auto [failure, handle] = answer.get(); // a fault over there is thrown here
    m_internet = handle;
    return failure;
}

void SessionThread::give(Job job)
{
    // After the end nothing runs, and nothing may wait for an answer that cannot come.
    if (m_ended)
        return;
    if (job.waiting->counted)
        ++m_waiting;
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->jobs.push_back(std::move(job));
    }
    m_shared->wake.notify_one();
}

void SessionThread::work(const std::shared_ptr<Shared>& shared)
{
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.wake.wait(lock, [&s] { return s.stopping || !s.jobs.empty(); });
        if (s.jobs.empty())
            break;
        Job job = std::move(s.jobs.front());
        s.jobs.pop_front();
        s.current = job.name;
        // A connection made by this call answers to the cancellation of this moment.
        setThreadCancellation(s.cancel);
        lock.unlock();
        try {
            job.waiting->run(s.ftp);
        } catch (...) {
            job.waiting->error = std::current_exception();
        }
        Answer answer{std::move(job.waiting), s.ftp.m_internet, s.ftp.m_ftp};
        lock.lock();
        s.current.clear();
        s.answers.push_back(std::move(answer));
        // The answer's data goes through the queue, under the lock; the event only wakes
        // the window's thread. Posted under the lock, which end() takes before it lets
        // the owner go.
        if (s.owner)
            QMetaObject::invokeMethod(s.owner, &SessionThread::deliver, Qt::QueuedConnection);
    }
    // Whatever is still open is closed here, not by the window's thread: when the end
    // cut the connection, there is nothing left to wait for.
    setThreadCancellation(s.cancel);
    lock.unlock();
    s.ftp.close();
    lock.lock();
    s.finished = true;
    s.done.notify_all();
}

void SessionThread::deliver()
{
    for (;;) {
        Answer answer;
        {
            const std::lock_guard lock(m_shared->mutex);
            if (m_ended || m_shared->answers.empty())
                return;
            answer = std::move(m_shared->answers.front());
            m_shared->answers.pop_front();
        }
        m_internet = answer.internet;
        m_session = answer.session;
        Waiting& waiting = *answer.waiting;
        if (waiting.counted)
            --m_waiting;
        waiting.answered();
        if (!waiting.dropped)
            waiting.coroutine.resume();
        if (m_onAnswer)
            m_onAnswer();
    }
}

void SessionThread::cancelAll(Shared& s, void (Cancellation::*how)())
{
    (*s.cancel.*how)();
    for (const std::weak_ptr<Cancellation>& cut : s.cutOff)
        if (const std::shared_ptr<Cancellation> c = cut.lock())
            (*c.*how)();
}

void SessionThread::cutShort(const QString& why)
{
    if (m_ended)
        return;
    Shared& s = *m_shared;
    std::shared_ptr<Cancellation> cut;
    QString current;
    {
        const std::lock_guard lock(s.mutex);
        cut = std::exchange(s.cancel, std::make_shared<Cancellation>());
        // Those whose connections have gone need no reaching any more.
        std::erase_if(s.cutOff, [](const std::weak_ptr<Cancellation>& c) { return c.expired(); });
        s.cutOff.push_back(cut);
        current = s.current;
    }
    cut->cancelSoon();
    eventlog::warning(QStringLiteral("session: the connection is cut short (%1)%2")
                          .arg(why, current.isEmpty() ? QString() : QStringLiteral("; cut short: ") + current));
}

void SessionThread::end(Ending how, const QString& why)
{
    if (m_ended)
        return;
    m_ended = true;
    Shared& s = *m_shared;
    QString abandoned;
    qsizetype dropped = 0;
    {
        const std::lock_guard lock(s.mutex);
        s.stopping = true;
        dropped = static_cast<qsizetype>(s.jobs.size());
        s.jobs.clear();
        abandoned = s.current;
        // Cut short: the call under way (a rename that completes an upload excepted), and
        // with it gone, whatever the handles left behind would still say to the server
        // when they are closed on that thread.
        if (!abandoned.isEmpty())
            cancelAll(s, &Cancellation::cancelSoon);
        else if (how == Ending::Abandon)
            cancelAll(s, &Cancellation::cancel);
        if (how != Ending::Abandon) {
            auto waiting = std::make_shared<WaitingFor<void>>();
            waiting->dropped = true;
            waiting->work = [how](FtpSession& ftp) {
                if (how == Ending::CloseAll)
                    ftp.close();
                else
                    ftp.disconnect();
            };
            s.jobs.push_back(Job{QStringLiteral("InternetCloseHandle"), std::move(waiting)});
        }
    }
    s.wake.notify_one();
    bool finished = false;
    {
        std::unique_lock lock(s.mutex);
        // A goodbye the server takes its time over is cut short; a call that does not
        // heed the cut (a name lookup in the system's resolver) is left to end by itself.
        if (!s.done.wait_for(lock, kGoodbyeBound, [&s] { return s.finished; }))
            cancelAll(s, &Cancellation::cancel);
        finished = s.done.wait_for(lock, kCutBound, [&s] { return s.finished; });
        s.owner = nullptr;
        s.answers.clear();
    }
    if (finished) {
        m_thread.join();
    } else {
        m_thread.detach();
        noteThreadLeftBehind();
    }
    m_waiting = 0;
    if (how != Ending::Abandon) {
        m_session = 0;
        m_listing.clear();
    }
    if (how == Ending::CloseAll)
        m_internet = 0;
    QStringList left;
    if (!abandoned.isEmpty())
        left << QStringLiteral("cut short: %1").arg(abandoned);
    if (dropped > 0)
        left << QStringLiteral("not made: %1 call%2").arg(dropped).arg(dropped == 1 ? "" : "s");
    if (!finished)
        left << QStringLiteral("the session's thread is left to finish by itself");
    if (left.isEmpty())
        eventlog::info(QStringLiteral("session: ended (%1)").arg(why));
    else
        eventlog::warning(QStringLiteral("session: ended (%1); %2").arg(why, left.join(QStringLiteral("; "))));
}
