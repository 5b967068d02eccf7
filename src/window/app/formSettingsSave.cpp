#include "core/app/settingsFile.h"
#include "core/base/eventLog.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"

#include <QLineEdit>

void FTPform::Command1_Click()
{
    const SettingsRecord fields = {text1->text(), text2->text(), text3->text(),
                                   text4->text(), Text8->text(), Text6->text()};
    eventlog::addSecret(text3->text());
    const QString path = fMyPath() + QStringLiteral("ftp.txt");
    if (!writeSettingsFile(path, fields)) {
        eventlog::warning(QStringLiteral("settings: not saved to %1").arg(eventlog::quote(path)));
        m_platform.showMessage(kSettingsNotSaved);
        return;
    }
    eventlog::info(QStringLiteral("settings: saved to %1 server=%2 user=%3 folder=%4 minute=%5 second=%6")
                       .arg(eventlog::quote(path), eventlog::quote(fields[0]), eventlog::quote(fields[1]),
                            eventlog::quote(fields[3]), eventlog::quote(fields[4]), eventlog::quote(fields[5])));
}
