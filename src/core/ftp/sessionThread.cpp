#include "core/ftp/sessionThread.h"

#include "core/base/eventLog.h"
#include "core/ftp/cancellation.h"
#include "core/ftp/modWinInet.h"

#include <chrono>
#include <future>

namespace {
// How long the end waits for a polite goodbye before it cuts the connection.
constexpr auto kGoodbyeBound = std::chrono::milliseconds(700);
} // namespace

SessionThread::SessionThread(QObject* parent) : QObject(parent), m_cancel(std::make_shared<Cancellation>())
{
    m_thread = std::thread([this] { work(); });
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

SessionThread::Call<bool> SessionThread::changeFolder(const QString& folder)
{
    return call<bool>(QStringLiteral("FtpSetCurrentDirectory"), [=](FtpSession& s) { return s.changeFolder(folder); });
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

std::optional<FtpFailure> SessionThread::openInternetNow(const QString& proxy)
{
    auto opened = std::make_shared<std::promise<std::pair<std::optional<FtpFailure>, std::int32_t>>>();
    auto waiting = std::make_shared<WaitingFor<void>>();
    waiting->dropped = true; // answered here, not through a coroutine
    waiting->counted = false;
    waiting->work = [proxy, opened](FtpSession& s) { opened->set_value({s.openInternet(proxy), s.m_internet}); };
    auto answer = opened->get_future();
    give(Job{QStringLiteral("InternetOpen"), waiting});
    if (m_ended)
        return FtpFailure{ERROR_INTERNET_OPERATION_CANCELLED, QStringLiteral("InternetOpen"), {}, {}};
    auto [failure, handle] = answer.get();
    m_internet = handle;
    return failure;
}

void SessionThread::give(Job job)
{
    if (job.waiting->counted)
        ++m_waiting;
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return; // the end has come: nothing more runs, and no answer comes
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void SessionThread::work()
{
    setThreadCancellation(m_cancel);
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            break;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_current = job.name;
        lock.unlock();
        try {
            job.waiting->run(m_ftp);
        } catch (...) {
            job.waiting->error = std::current_exception();
        }
        Answer answer{std::move(job.waiting), m_ftp.m_internet, m_ftp.m_ftp};
        lock.lock();
        m_current.clear();
        m_answers.push_back(std::move(answer));
        // The answer's data goes through m_answers, under the lock; the event only
        // wakes the window's thread.
        QMetaObject::invokeMethod(this, "deliver", Qt::QueuedConnection);
    }
    // Whatever is still open is closed here, not by the window's thread: when the end
    // cut the connection, there is nothing left to wait for.
    lock.unlock();
    m_ftp.close();
    lock.lock();
    m_finished = true;
    m_done.notify_all();
}

void SessionThread::deliver()
{
    for (;;) {
        Answer answer;
        {
            const std::lock_guard lock(m_mutex);
            if (m_ended || m_answers.empty())
                return;
            answer = std::move(m_answers.front());
            m_answers.pop_front();
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

void SessionThread::end(Ending how, const QString& why)
{
    if (m_ended)
        return;
    m_ended = true;
    QString abandoned;
    qsizetype dropped = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        dropped = static_cast<qsizetype>(m_jobs.size());
        m_jobs.clear();
        abandoned = m_current;
        // Cut short: the call under way, and with it gone, whatever the handles left
        // behind would still say to the server when they are closed on this thread.
        if (!abandoned.isEmpty() || how == Ending::Abandon)
            m_cancel->cancel();
        if (how != Ending::Abandon) {
            auto waiting = std::make_shared<WaitingFor<void>>();
            waiting->dropped = true;
            waiting->work = [how](FtpSession& s) {
                if (how == Ending::CloseAll)
                    s.close();
                else
                    s.disconnect();
            };
            m_jobs.push_back(Job{QStringLiteral("InternetCloseHandle"), std::move(waiting)});
        }
    }
    m_wake.notify_one();
    {
        // A goodbye the server takes its time over is cut short.
        std::unique_lock lock(m_mutex);
        if (!m_done.wait_for(lock, kGoodbyeBound, [this] { return m_finished; }))
            m_cancel->cancel();
    }
    m_thread.join();
    {
        const std::lock_guard lock(m_mutex);
        m_answers.clear();
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
    if (left.isEmpty())
        eventlog::info(QStringLiteral("session: ended (%1)").arg(why));
    else
        eventlog::warning(QStringLiteral("session: ended (%1); %2").arg(why, left.join(QStringLiteral("; "))));
}
