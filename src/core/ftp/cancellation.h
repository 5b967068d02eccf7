#pragma once
// Cutting short, from another thread, what the FTP layer is doing for a thread: the
// program's end must not wait for a server that takes its time.
//
// A thread that sets a Cancellation (setThreadCancellation) before it connects makes its
// connections answer to it. Once cancel() has been called, the request under way ends
// within moments (its sockets are shut down, and a transfer's progress check says stop),
// no request is sent any more, and none is tried again on a fresh login.

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <set>

class Cancellation {
public:
    Cancellation() = default;
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    // From any thread.
    void cancel();
    // The same, except that a step that must not be cut in half (see Finishing) is let
    // finish first; cancel() still cuts it.
    void cancelSoon();
    bool cancelled() const { return m_cancelled.load(std::memory_order_acquire); }

    // For as long as it lives, cancelSoon() waits for it: the rename that puts a
    // complete upload in the place of the old image, which on some servers is a
    // removal and a rename, and must not end between the two.
    class Finishing {
    public:
        explicit Finishing(std::shared_ptr<Cancellation> cancellation);
        ~Finishing();
        Finishing(const Finishing&) = delete;
        Finishing& operator=(const Finishing&) = delete;

    private:
        std::shared_ptr<Cancellation> m_cancellation;
    };

    // Opens and closes a request's sockets through this cancellation, so cancel() can
    // reach them. For a handle just reset for a request.
    void attach(CURL* curl);

private:
    static curl_socket_t onOpen(void* self, curlsocktype purpose, curl_sockaddr* address);
    static int onClose(void* self, curl_socket_t socket);
    void cancelLocked();

    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex; // the open sockets; held while one is opened, closed or shut down
    std::set<curl_socket_t> m_sockets;
    int m_finishing = 0;        // Finishing steps under way
    bool m_cancelLater = false; // cancelSoon() came during one
};

// The cancellation that the connections this thread opens from now on answer to; null:
// none (they run to their bounds).
void setThreadCancellation(std::shared_ptr<Cancellation> cancellation);
std::shared_ptr<Cancellation> threadCancellation();
