#include "core/ftp/cancellation.h"

// Sockets are the platform's: POSIX here; Winsock's socket(), shutdown(SD_BOTH) and
// closesocket() where the program is built for Windows.
#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

thread_local std::shared_ptr<Cancellation> t_cancellation;

void shutDown(curl_socket_t socket)
{
#ifdef _WIN32
    ::shutdown(socket, SD_BOTH);
#else
    ::shutdown(socket, SHUT_RDWR);
#endif
}

int closeSocket(curl_socket_t socket)
{
#ifdef _WIN32
    return ::closesocket(socket);
#else
    return ::close(socket);
#endif
}

} // namespace

void Cancellation::cancel()
{
    const std::lock_guard lock(m_mutex);
    cancelLocked();
}

void Cancellation::cancelLocked()
{
    // Under the lock, so no socket is shut down after its number was closed and given
    // to another file.
    m_cancelled.store(true, std::memory_order_release);
    for (const curl_socket_t socket : m_sockets)
        shutDown(socket);
}

void Cancellation::cancelSoon()
{
    const std::lock_guard lock(m_mutex);
    if (m_finishing > 0)
        m_cancelLater = true;
    else
        cancelLocked();
}

Cancellation::Finishing::Finishing(std::shared_ptr<Cancellation> cancellation) : m_cancellation(std::move(cancellation))
{
    if (!m_cancellation)
        return;
    const std::lock_guard lock(m_cancellation->m_mutex);
    ++m_cancellation->m_finishing;
}

Cancellation::Finishing::~Finishing()
{
    if (!m_cancellation)
        return;
    Cancellation& c = *m_cancellation;
    const std::lock_guard lock(c.m_mutex);
    if (--c.m_finishing == 0 && c.m_cancelLater)
        c.cancelLocked();
}

void Cancellation::attach(CURL* curl)
{
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &Cancellation::onOpen);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, &Cancellation::onClose);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
}

curl_socket_t Cancellation::onOpen(void* self, curlsocktype, curl_sockaddr* address)
{
    auto* me = static_cast<Cancellation*>(self);
    const std::lock_guard lock(me->m_mutex);
    if (me->cancelled())
        return CURL_SOCKET_BAD;
    const curl_socket_t socket = ::socket(address->family, address->socktype, address->protocol);
    if (socket != CURL_SOCKET_BAD)
        me->m_sockets.insert(socket);
    return socket;
}

int Cancellation::onClose(void* self, curl_socket_t socket)
{
    auto* me = static_cast<Cancellation*>(self);
    const std::lock_guard lock(me->m_mutex);
    me->m_sockets.erase(socket);
    return closeSocket(socket);
}

void setThreadCancellation(std::shared_ptr<Cancellation> cancellation)
{
    t_cancellation = std::move(cancellation);
}

std::shared_ptr<Cancellation> threadCancellation()
{
    return t_cancellation;
}
