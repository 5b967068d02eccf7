#pragma once
// The FTP session on a thread of its own, so the window never waits for a server.
//
// The window's thread gives the calls (the Internet handle, connect, folder change,
// listing, upload, disconnect) and goes on. They run on the session's thread one at a
// time, in the order given, and each answer comes back on the window's thread, where
// the coroutine that awaited the call goes on with its next step:
//
//     if (const auto failure = co_await m_session.connect(server, user, password, passive))
//         ErrorOut(*failure);
//
// What the window reads of the session (connected(), the handles, the last listing) is
// what the last answer left; it never looks at the other thread's state. The WinInet
// layer's per-thread last error lives on the session's thread, and a failure comes back
// as a value that carries all there is to show or log.
//
// end() stops the thread within a second, whatever the server is doing.

#include "core/ftp/ftpSession.h"

#include <QObject>

#include <condition_variable>
#ifndef Q_MOC_RUN // moc cannot parse it (see core/base/task.h)
#include <coroutine>
#endif
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>

class Cancellation;

class SessionThread : public QObject {
    Q_OBJECT

    struct Waiting;

public:
    // What a co_await on a call gives: the call's result, once it is in.
    template <typename R>
    class Call;

    explicit SessionThread(QObject* parent = nullptr);
    ~SessionThread() override;

    Call<std::optional<FtpFailure>> connect(const QString& server, const QString& user, const QString& password,
                                            bool passive);
    // Forgets the listing when it is over.
    Call<void> disconnect();
    Call<bool> changeFolder(const QString& folder);
    // Keeps the entries as listing() when it is over.
    Call<ListResult> list();
    Call<std::optional<FtpFailure>> putFile(const QString& localFile, const QString& remoteName,
                                            std::int32_t transferType);

    // Opens the Internet handle and waits for it: the start-up's one call, which does
    // not reach the network.
    std::optional<FtpFailure> openInternetNow(const QString& proxy);

    // The session as the last answer left it.
    bool internetOpen() const { return m_internet != 0; }
    bool connected() const { return m_session != 0; }
    const QList<RemoteEntry>& listing() const { return m_listing; }
    void clearListing() { m_listing.clear(); }

    // A call has been given whose answer is not in yet.
    bool busy() const { return m_waiting > 0; }

    // Runs on the window's thread after each answer, once the coroutine it resumed has
    // gone as far as it goes.
    void setOnAnswer(std::function<void()> onAnswer) { m_onAnswer = std::move(onAnswer); }

    enum class Ending {
        Abandon,      // leave the handles to the end of the process
        CloseSession, // end the session politely; the Internet handle stays
        CloseAll,     // end the session politely and close the Internet handle
    };
    // Ends the thread within a second: the call under way is cut short (an upload
    // leaves at most its temporary file), the calls not yet made are dropped and their
    // answers never come, then the session is closed as asked while time is left. The
    // log names `why` and what was abandoned. No call runs afterwards.
    void end(Ending how, const QString& why);
    bool ended() const { return m_ended; }

private slots:
    void deliver();

private:
    friend class FTPformTestAccess; // tests set the handles the window sees

    template <typename R>
    using Stored = std::conditional_t<std::is_void_v<R>, std::monostate, R>;

    // One call from its giving to its answer, shared by the awaiting coroutine and the
    // session's thread, so either may go first.
    struct Waiting {
        std::coroutine_handle<> coroutine; // resumed by the answer
        bool dropped = false;              // the coroutine has gone; resume nothing
        bool counted = true;               // busy() waits for its answer
        std::exception_ptr error;
        virtual ~Waiting() = default;
        virtual void run(FtpSession& session) = 0; // on the session's thread
        virtual void answered() {}                 // on the window's thread, before the coroutine goes on
    };
    template <typename R>
    struct WaitingFor final : Waiting {
        std::function<R(FtpSession&)> work;
        std::function<void(Stored<R>&)> onAnswer;
        std::optional<Stored<R>> result;
        void run(FtpSession& session) override
        {
            if constexpr (std::is_void_v<R>) {
                work(session);
                result.emplace();
            } else {
                result.emplace(work(session));
            }
        }
        void answered() override
        {
            if (onAnswer && result)
                onAnswer(*result);
        }
    };
    struct Job {
        QString name; // for the log, when it has to be abandoned
        std::shared_ptr<Waiting> waiting;
    };
    struct Answer {
        std::shared_ptr<Waiting> waiting;
        std::int32_t internet = 0;
        std::int32_t session = 0;
    };

    template <typename R>
    Call<R> call(QString name, std::function<R(FtpSession&)> work, std::function<void(Stored<R>&)> onAnswer = {});
    void give(Job job);
    void work(); // the session's thread

    // The session and what is shared with its thread, under m_mutex.
    FtpSession m_ftp; // touched by the session's thread only, once it runs
    std::shared_ptr<Cancellation> m_cancel;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::deque<Job> m_jobs;
    std::deque<Answer> m_answers;
    QString m_current; // the call under way; empty when none
    bool m_stopping = false;
    bool m_finished = false;
    std::thread m_thread;

    // The window's side.
    std::int32_t m_internet = 0; // the handles as the last answer left them
    std::int32_t m_session = 0;
    QList<RemoteEntry> m_listing;
    int m_waiting = 0;
    bool m_ended = false;
    std::function<void()> m_onAnswer;
};

template <typename R>
class SessionThread::Call {
public:
    Call(SessionThread* thread, QString name, std::shared_ptr<WaitingFor<R>> waiting)
        : m_thread(thread), m_name(std::move(name)), m_waiting(std::move(waiting))
    {
    }
    Call(Call&&) noexcept = default;
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    Call& operator=(Call&&) = delete;
    // A coroutine destroyed while it waits (the window goes at the end of the program)
    // leaves an answer that resumes nothing.
    ~Call()
    {
        if (m_waiting)
            m_waiting->dropped = true;
    }

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> coroutine)
    {
        m_waiting->coroutine = coroutine;
        m_thread->give(Job{m_name, m_waiting});
    }
    R await_resume()
    {
        if (m_waiting->error)
            std::rethrow_exception(m_waiting->error);
        if constexpr (!std::is_void_v<R>)
            return std::move(*m_waiting->result);
    }

private:
    SessionThread* m_thread;
    QString m_name;
    std::shared_ptr<WaitingFor<R>> m_waiting;
};

template <typename R>
SessionThread::Call<R> SessionThread::call(QString name, std::function<R(FtpSession&)> work,
                                           std::function<void(Stored<R>&)> onAnswer)
{
    auto waiting = std::make_shared<WaitingFor<R>>();
    waiting->work = std::move(work);
    waiting->onAnswer = std::move(onAnswer);
    return Call<R>(this, std::move(name), std::move(waiting));
}
