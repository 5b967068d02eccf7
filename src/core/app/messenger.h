#pragma once
// The messages to the owner on their way, through libcurl, on a thread of their own:
// a mail over SMTP, a POST to a web address (a push service, a chat webhook), and the
// GET that tells a health-check service an hour landed. They never delay an upload, and
// the program's end never waits for them. A message that could not be delivered is tried
// again, first after a minute, then with the delay doubled up to an hour, for a day;
// each failure and the giving up are logged. A ping that fails is tried twice more: the
// service raises its own alarm when pings stop.
//
// TLS is checked as for FTPS: the system store and ftp-ca.pem. Plain SMTP goes only to
// this machine (a local relay, which uses STARTTLS when it offers it); smtp:// to any
// other host must offer STARTTLS, and smtps:// is TLS from the start.

#include "core/app/alertSettings.h"
#include "core/scheduler/ownerAlerts.h"

#include <QList>
#include <QString>

#include <chrono>
#include <memory>
#include <thread>

class Cancellation;

enum class Channel { Mail, Url, Ping };

// What became of one delivery.
struct Delivery {
    Channel channel = Channel::Mail;
    bool delivered = false;
    QString detail; // why not, in libcurl's or the server's words; empty when delivered
};

QString channelName(Channel channel);

class Messenger {
public:
    struct Timing {
        std::chrono::milliseconds firstDelay{60'000};
        std::chrono::milliseconds longestDelay{3'600'000};
        std::chrono::milliseconds giveUpAfter{24 * 3'600'000};
        long timeoutSeconds = 30; // for a server that does not answer
    };

    explicit Messenger(AlertSettings settings, Timing timing);
    explicit Messenger(AlertSettings settings) : Messenger(std::move(settings), Timing{}) {}
    ~Messenger();
    Messenger(const Messenger&) = delete;
    Messenger& operator=(const Messenger&) = delete;

    // Through every channel set for messages (mail, url).
    void send(const OwnerMessage& message);
    // The GET after an hour that landed, when ping is set.
    void ping();

    // Ends the thread without waiting for a server: a delivery under way is cut short and
    // those not made are dropped, which the log says. True when the thread is still in a
    // call that does not heed the cut (a name lookup) and is left to end by itself.
    bool end();

    // One delivery on the calling thread, given up after `timeoutSeconds` of silence, or
    // within moments once `cancel` is cancelled.
    static Delivery deliver(const AlertSettings& settings, Channel channel, const OwnerMessage& message,
                            long timeoutSeconds, Cancellation* cancel = nullptr);

private:
    struct Shared;
    static void work(const std::shared_ptr<Shared>& shared);
    void queue(Channel channel, const OwnerMessage& message);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    bool m_ended = false;
};
