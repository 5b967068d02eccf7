#include "core/app/alertTest.h"

#include "core/app/alertSettings.h"
#include "core/app/messenger.h"
#include "core/base/eventLog.h"
#include "core/ftp/ftpSession.h"
#include "core/scheduler/ownerAlerts.h"

#include <QDateTime>
#include <QDir>

int testAlert(const QString& folder, QTextStream& out, long timeoutSeconds)
{
    const QString path = QDir::toNativeSeparators(QDir(folder).filePath(QLatin1String(kAlertFile)));
    const std::optional<AlertFile> file = readAlertSettings(folder);
    if (!file) {
        out << path << ": there is no such file" << Qt::endl;
        return 1;
    }
    out << "alert.txt: " << path << Qt::endl;
    for (const QString& mistake : file->mistakes)
        out << mistake << Qt::endl;
    const AlertSettings& settings = file->settings;
    if (!settings.any()) {
        out << "alert.txt names nowhere to send to (mail, url or ping)" << Qt::endl;
        return 1;
    }
    // Certificates are checked as for FTPS, with ftp-ca.pem of this folder.
    FtpSession::useTrustFolder(QDir::toNativeSeparators(folder));
    for (const QString& secret : settings.secrets())
        eventlog::addSecret(secret);
    const OwnerMessage message = testMessage(QDateTime::currentDateTime());
    bool allDelivered = true;
    const auto check = [&](Channel channel, const QString& where) {
        out << where << ": " << Qt::flush;
        const Delivery delivery = Messenger::deliver(settings, channel, message, timeoutSeconds);
        out << (delivery.delivered ? QStringLiteral("delivered")
                                   : QStringLiteral("not delivered (%1)").arg(delivery.detail))
            << Qt::endl;
        allDelivered = allDelivered && delivery.delivered;
    };
    if (!settings.mail.isEmpty())
        check(Channel::Mail, QStringLiteral("mail to %1 through %2").arg(settings.mail, settings.smtp));
    if (!settings.url.isEmpty())
        check(Channel::Url, QStringLiteral("url %1").arg(AlertSettings::shown(settings.url)));
    if (!settings.ping.isEmpty())
        check(Channel::Ping, QStringLiteral("ping %1").arg(AlertSettings::shown(settings.ping)));
    return allDelivered && file->mistakes.isEmpty() ? 0 : 1;
}
