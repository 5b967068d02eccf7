#include "core/app/messenger.h"

#include "core/app/mailText.h"
#include "core/base/eventLog.h"
#include "core/base/threadsLeftBehind.h"
#include "core/ftp/cancellation.h"
#include "core/ftp/ftpConnection.h"
#include "core/ftp/secureOptions.h"

#include <QDateTime>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// How long the end waits for the thread to come out of a delivery it cut short.
constexpr auto kEndBound = std::chrono::milliseconds(300);
constexpr int kPingTries = 3;

struct MailSource {
    QByteArray bytes;
    qsizetype sent = 0;
};

size_t readMail(char* buffer, size_t size, size_t count, void* source)
{
    auto* mail = static_cast<MailSource*>(source);
    const qsizetype n = std::min<qsizetype>(static_cast<qsizetype>(size * count), mail->bytes.size() - mail->sent);
    std::memcpy(buffer, mail->bytes.constData() + mail->sent, static_cast<size_t>(n));
    mail->sent += n;
    return static_cast<size_t>(n);
}

size_t discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

int stopWhenCancelled(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return cancel && static_cast<const Cancellation*>(cancel)->cancelled() ? 1 : 0;
}

bool tlsFailed(CURLcode rc)
{
    switch (rc) {
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return true;
    default:
        return false;
    }
}

QString describe(const OwnerMessage& message)
{
    return eventlog::quote(message.subject);
}

} // namespace

QString channelName(Channel channel)
{
    switch (channel) {
    case Channel::Mail:
        return QStringLiteral("mail");
    case Channel::Url:
        return QStringLiteral("url");
    case Channel::Ping:
        return QStringLiteral("ping");
    }
    return {};
}

struct Messenger::Shared {
    struct Item {
        Channel channel;
        OwnerMessage message;
        int attempts = 0;
        Clock::time_point first;
        Clock::time_point next;
    };
    AlertSettings settings;
    Timing timing;
    std::mutex mutex; // guards everything below
    std::condition_variable wake;
    std::condition_variable done;
    std::deque<Item> items;
    // The end: it stops the loop and shuts the sockets of a delivery under way.
    Cancellation cancel;
    bool finished = false;
};

Messenger::Messenger(AlertSettings settings, Timing timing) : m_shared(std::make_shared<Shared>())
{
    m_shared->settings = std::move(settings);
    m_shared->timing = timing;
    m_thread = std::thread([shared = m_shared] { work(shared); });
}

Messenger::~Messenger()
{
    end();
}

void Messenger::send(const OwnerMessage& message)
{
    if (!m_shared->settings.mail.isEmpty())
        queue(Channel::Mail, message);
    if (!m_shared->settings.url.isEmpty())
        queue(Channel::Url, message);
}

void Messenger::ping()
{
    if (!m_shared->settings.ping.isEmpty())
        queue(Channel::Ping, {});
}

void Messenger::queue(Channel channel, const OwnerMessage& message)
{
    if (m_ended)
        return;
    {
        const std::lock_guard lock(m_shared->mutex);
        const Clock::time_point now = Clock::now();
        m_shared->items.push_back({channel, message, 0, now, now});
    }
    m_shared->wake.notify_one();
}

void Messenger::work(const std::shared_ptr<Shared>& shared)
{
    Shared& s = *shared;
    std::unique_lock lock(s.mutex);
    while (!s.cancel.cancelled()) {
        if (s.items.empty()) {
            s.wake.wait(lock);
            continue;
        }
        const auto due = std::min_element(s.items.begin(), s.items.end(),
                                          [](const Shared::Item& a, const Shared::Item& b) { return a.next < b.next; });
        if (due->next > Clock::now()) {
            s.wake.wait_until(lock, due->next);
            continue;
        }
        Shared::Item item = std::move(*due);
        s.items.erase(due);
        lock.unlock();
        const Delivery delivery = deliver(s.settings, item.channel, item.message, s.timing.timeoutSeconds, &s.cancel);
        lock.lock();
        if (s.cancel.cancelled())
            break;
        ++item.attempts;
        const QString what = item.channel == Channel::Ping ? QString() : QLatin1Char(' ') + describe(item.message);
        if (delivery.delivered) {
            eventlog::info(QStringLiteral("alert: %1 delivered%2").arg(channelName(item.channel), what));
            continue;
        }
        const Clock::time_point now = Clock::now();
        const bool giveUp =
            item.channel == Channel::Ping ? item.attempts >= kPingTries : now - item.first >= s.timing.giveUpAfter;
        if (giveUp) {
            eventlog::warning(QStringLiteral("alert: %1 not delivered (%2)%3; given up after %4 tries")
                                  .arg(channelName(item.channel), delivery.detail, what)
                                  .arg(item.attempts));
            continue;
        }
        const std::chrono::milliseconds doubled = s.timing.firstDelay * (1 << std::min(item.attempts - 1, 20));
        const std::chrono::milliseconds delay = std::min(s.timing.longestDelay, doubled);
        item.next = now + delay;
        eventlog::warning(QStringLiteral("alert: %1 not delivered (%2)%3; tried again in %4 s")
                              .arg(channelName(item.channel), delivery.detail, what)
                              .arg(static_cast<double>(delay.count()) / 1000.0));
        s.items.push_back(std::move(item));
    }
    s.finished = true;
    s.done.notify_all();
}

bool Messenger::end()
{
    if (m_ended)
        return false;
    m_ended = true;
    Shared& s = *m_shared;
    qsizetype dropped = 0;
    bool finished = false;
    {
        std::unique_lock lock(s.mutex);
        s.cancel.cancel();
        dropped = static_cast<qsizetype>(s.items.size());
        s.items.clear();
        s.wake.notify_all();
        finished = s.done.wait_for(lock, kEndBound, [&s] { return s.finished; });
    }
    if (finished) {
        m_thread.join();
    } else {
        m_thread.detach();
        noteThreadLeftBehind();
    }
    if (dropped > 0)
        eventlog::warning(QStringLiteral("alert: %1 message%2 not delivered before the end")
                              .arg(dropped)
                              .arg(dropped == 1 ? "" : "s"));
    return !finished;
}

Delivery Messenger::deliver(const AlertSettings& settings, Channel channel, const OwnerMessage& message,
                            long timeoutSeconds, Cancellation* cancel)
{
    Delivery delivery;
    delivery.channel = channel;
    ensureCurlInitialised();
    CURL* curl = curl_easy_init();
    if (!curl) {
        delivery.detail = QStringLiteral("libcurl is not available");
        return delivery;
    }
    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    setRequestBasics(curl, timeoutSeconds, cancel);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 2 * timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, stopWhenCancelled);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, cancel);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    applyTrustedCertificates(curl);

    // Nothing the owner is told carries a password.
    const QString subject = eventlog::withoutSecrets(message.subject);
    const QString text = eventlog::withoutSecrets(message.text);
    MailSource mail;
    curl_slist* headers = nullptr;
    curl_slist* recipients = nullptr;
    QByteArray url;
    switch (channel) {
    case Channel::Mail: {
        url = settings.smtp.toUtf8();
        // Plain only to this machine; anywhere else STARTTLS or nothing.
        const bool local = isLoopbackHost(QUrl(settings.smtp).host());
        curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(local ? CURLUSESSL_TRY : CURLUSESSL_ALL));
        const QByteArray from = "<" + settings.sender().toUtf8() + ">";
        const QByteArray to = "<" + settings.mail.toUtf8() + ">";
        curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
        recipients = curl_slist_append(nullptr, to.constData());
        curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
        if (!settings.smtpUser.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_USERNAME, settings.smtpUser.toUtf8().constData());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, settings.smtpPassword.toUtf8().constData());
        }
        mail.bytes = formatMail(settings.sender(), settings.mail, subject, text, QDateTime::currentDateTime());
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, readMail);
        curl_easy_setopt(curl, CURLOPT_READDATA, &mail);
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        break;
    }
    case Channel::Url: {
        url = settings.url.toUtf8();
        const QByteArray body = (subject + QStringLiteral("\n\n") + text).toUtf8();
        headers = curl_slist_append(nullptr, "Content-Type: text/plain; charset=utf-8");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body.constData());
        break;
    }
    case Channel::Ping:
        url = settings.ping.toUtf8();
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        break;
    }
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    CURLcode rc = curl_easy_perform(curl);
    if (channel == Channel::Mail && isLoopbackHost(QUrl(settings.smtp).host()) && tlsFailed(rc) &&
        !(cancel && cancel->cancelled())) {
        // A relay on this machine whose STARTTLS cannot be checked (a certificate made at
        // its install) takes the mail in the clear, which never leaves the machine.
        eventlog::info(QStringLiteral("alert: the mail server on this machine offered TLS that could not be checked "
                                      "(%1); the mail goes to it without")
                           .arg(QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(rc))));
        errorText[0] = '\0';
        mail.sent = 0;
        curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_NONE));
        rc = curl_easy_perform(curl);
    }
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    if (rc != CURLE_OK) {
        delivery.detail = QString::fromUtf8(errorText[0] ? errorText : curl_easy_strerror(rc));
    } else if (channel != Channel::Mail && (code < 200 || code > 299)) {
        delivery.detail = QStringLiteral("HTTP %1").arg(code);
    } else {
        delivery.delivered = true;
    }
    curl_slist_free_all(headers);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    delivery.detail = eventlog::withoutSecrets(delivery.detail);
    return delivery;
}
