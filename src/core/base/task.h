#pragma once
// Coroutines for handlers that wait for the network without holding up the window.
//
// The rule for every handler: read the window and its members (the boxes, the file
// to send, the tree's selection) before the first `co_await`, and carry what was read
// in locals; after a wait, only write (show, log, change the controls), acting on what
// was read. While a handler waits, the window goes on: the refresher rolls the boxes to
// the next hour, the operator types, another handler runs. What a handler read before
// its wait is what it was asked to do; what the window shows after it is someone
// else's. The answer of the call awaited (the session's state, its listing) is the one
// thing it reads afterwards.
//
// A handler that makes a network call is a coroutine returning Task<>: it is suspended
// at each `co_await` of a call and resumed on the window's thread once the answer is
// in, so it reads as its steps in order while the window draws, its clock goes on and
// other handlers run. A Task<T> is a step of such a handler that itself waits
// (`const auto failure = co_await ConnectSession(...)`); it starts when it is awaited and
// hands its value or its exception to the one who awaits it.
//
// A handler's own Task is started by a TaskSet, which owns it until it ends. What is
// still waiting when the set goes (the program ends in the middle of a call) is
// destroyed with it, never resumed.
//
// Everything here belongs to one thread.

// moc reads what a header includes and cannot parse the standard library's C++20
// headers; it needs nothing from this one.
#ifndef Q_MOC_RUN
#include <coroutine>
#endif
#include <exception>
#include <functional>
#include <list>
#include <optional>
#include <utility>

template <typename T = void>
class Task;

namespace task_detail {

// What a finished step does: go back to whoever awaited it, or nowhere.
struct ResumeAwaiter {
    std::coroutine_handle<> awaiter;
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<>) const noexcept
    {
        return awaiter ? awaiter : std::noop_coroutine();
    }
    void await_resume() const noexcept {}
};

struct PromiseBase {
    std::coroutine_handle<> awaiter;
    std::exception_ptr error;
    std::suspend_always initial_suspend() const noexcept { return {}; }
    ResumeAwaiter final_suspend() const noexcept { return {awaiter}; }
    void unhandled_exception() noexcept { error = std::current_exception(); }
};

template <typename T>
struct Promise : PromiseBase {
    std::optional<T> value;
    Task<T> get_return_object();
    template <typename U>
    void return_value(U&& v)
    {
        value.emplace(std::forward<U>(v));
    }
};

template <>
struct Promise<void> : PromiseBase {
    Task<void> get_return_object();
    void return_void() const noexcept {}
};

} // namespace task_detail

template <typename T>
class [[nodiscard]] Task {
public:
    using promise_type = task_detail::Promise<T>;
    using Handle = std::coroutine_handle<promise_type>;

    explicit Task(Handle handle) : m_handle(handle) {}
    Task(Task&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}
    Task& operator=(Task&& other) noexcept
    {
        if (this != &other) {
            if (m_handle)
                m_handle.destroy();
            m_handle = std::exchange(other.m_handle, nullptr);
        }
        return *this;
    }
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;
    ~Task()
    {
        if (m_handle)
            m_handle.destroy();
    }

    // Awaiting a Task runs it; the awaiter goes on when it has finished.
    bool await_ready() const noexcept { return false; }
    std::coroutine_handle<> await_suspend(std::coroutine_handle<> awaiter) noexcept
    {
        m_handle.promise().awaiter = awaiter;
        return m_handle;
    }
    T await_resume()
    {
        if (m_handle.promise().error)
            std::rethrow_exception(m_handle.promise().error);
        if constexpr (!std::is_void_v<T>)
            return std::move(*m_handle.promise().value);
    }

private:
    Handle m_handle;
};

namespace task_detail {

template <typename T>
Task<T> Promise<T>::get_return_object()
{
    return Task<T>(std::coroutine_handle<Promise<T>>::from_promise(*this));
}

inline Task<void> Promise<void>::get_return_object()
{
    return Task<void>(std::coroutine_handle<Promise<void>>::from_promise(*this));
}

} // namespace task_detail

// The handlers under way. start() runs a handler's Task at once, up to its first wait
// or its end; `done`, if given, is called when it has ended, with the exception it
// ended on, if any. A handler that never waits is over before start() returns.
class TaskSet {
public:
    using Done = std::function<void(const std::exception_ptr&)>;

    TaskSet() = default;
    TaskSet(const TaskSet&) = delete;
    TaskSet& operator=(const TaskSet&) = delete;
    ~TaskSet()
    {
        // Those still waiting for an answer that will not come now.
        while (!m_running.empty()) {
            const std::coroutine_handle<> frame = m_running.front();
            m_running.pop_front();
            frame.destroy();
        }
    }

    void start(Task<> task, Done done = {})
    {
        Root root = run(std::move(task), std::move(done));
        m_running.push_front(root.frame);
        root.frame.promise().set = this;
        root.frame.promise().place = m_running.begin();
        root.frame.resume();
    }

    // How many have started and not ended.
    std::size_t size() const { return m_running.size(); }

private:
    struct Root {
        struct promise_type {
            TaskSet* set = nullptr;
            std::list<std::coroutine_handle<>>::iterator place;
            Root get_return_object() { return Root{std::coroutine_handle<promise_type>::from_promise(*this)}; }
            std::suspend_always initial_suspend() const noexcept { return {}; }
            // Over: out of the set, and the frame goes by itself.
            std::suspend_never final_suspend() noexcept
            {
                if (set)
                    set->m_running.erase(place);
                return {};
            }
            void return_void() const noexcept {}
            void unhandled_exception() const noexcept { std::terminate(); }
        };
        std::coroutine_handle<promise_type> frame;
    };

    static Root run(Task<> task, Done done)
    {
        std::exception_ptr error;
        try {
            co_await task;
        } catch (...) {
            error = std::current_exception();
        }
        if (done)
            done(error);
    }

    std::list<std::coroutine_handle<>> m_running;
};
