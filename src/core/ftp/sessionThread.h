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
// end() is over within a second, whatever the network is doing: a name lookup that
// hangs, a handshake or a transfer that stalls. A thread that is still stuck in a call
// after that is left to finish on its own; it holds nothing of the window's.

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
#include <vector>

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
    Call<std::optional<FtpFailure>> changeFolder(const QString& folder);
    // Keeps the entries as listing() when it is over.
    Call<ListResult> list();
    Call<std::optional<FtpFailure>> putFile(const QString& localFile, const QString& remoteName,
                                            std::int32_t transferType);
    // An SFTP server's host key when known_hosts does not hold it or holds another one
    // (FtpSession::lookAtHostKey); nothing is sent of a login.
    Call<std::optional<ServerIdentity>> lookAtHostKey(const QString& server);

    // Opens the Internet handle and waits for it: the start-up's one call, which does
    // not reach the network. A fault on the session's thread is thrown here; a thread
    // that does not answer within seconds fails the call (ERROR_INTERNET_TIMEOUT).
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
    // Ends the thread within a second: the call under way is cut short, the calls not
    // yet made are dropped and their answers never come, then the session is closed as
    // asked while time is left. The log names `why` and what was abandoned. No call is
    // taken afterwards: one given later (by a coroutine that was past its message box)
    // is neither run nor counted, and its answer never comes.
    //
    // What an upload cut short leaves on the server: under the temporary name, the final
    // name keeps the complete image it had, old or new (a rename already under way is
    // given the goodbye's time to finish, so a replace that removed the old image also
    // puts the new one in its place), and at most the temporary file is left over. On a
    // server that refused the temporary name or the rename, files go straight to their
    // final name, as any plain FTP client sends them, and one cut short there stays
    // short until the next upload; the log says which of the two it was.
    void end(Ending how, const QString& why);
    bool ended() const { return m_ended; }

    // Cuts the session's connection short, for a call that must make way (a try of an
    // hour still under way when the next hour's cycle begins): the call under way ends
    // within moments, as at the end (a rename that completes an upload is let finish
    // first), and every later call on that connection fails at once, so only its closing
    // is worth making. The thread goes on: a connect given afterwards opens a fresh
    // connection. `why` goes into the log.
    void cutShort(const QString& why);

private:
    void deliver();                 // the answers that are in, on the window's thread
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

    // What the session's thread works on. It holds its own share, so a thread the end
    // had to leave behind (stuck in a call that ignores the cut) finishes on state that
    // is still there, after the window and this object have gone.
    struct Shared {
        FtpSession ftp;   // touched by the session's thread only, once it runs
        std::mutex mutex; // guards everything below
        // What the connections opened from now on answer to; those cut short before
        // answer to theirs, which the end still reaches while they live.
        std::shared_ptr<Cancellation> cancel;
        std::vector<std::weak_ptr<Cancellation>> cutOff;
        std::condition_variable wake;
        std::condition_variable done;
        std::deque<Job> jobs;
        std::deque<Answer> answers;
        QString current;                // the call under way; empty when none
        SessionThread* owner = nullptr; // told of each answer; null once ended
        bool stopping = false;
        bool finished = false;
    };
    static void work(const std::shared_ptr<Shared>& shared); // the session's thread
    // Cancels, as `how` says, every connection there is: the current one and those cut
    // short before. With the lock held.
    static void cancelAll(Shared& s, void (Cancellation::*how)());

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;

    // The window's side.
    std::int32_t m_internet = 0; // the handles as the last answer left them
    std::int32_t m_session = 0;
    QList<RemoteEntry> m_listing;
    int m_waiting = 0;
    bool m_ended = false;
    std::function<void()> m_onAnswer;
};

// [[nodiscard]]: a call that is given must be awaited; one that is not would never run.
template <typename R>
class [[nodiscard]] SessionThread::Call {
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
