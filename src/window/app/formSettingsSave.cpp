#include "window/app/ftpForm.h"

#include "window/app/messages.h"
#include "window/app/platform.h"
#include "core/base/eventLog.h"
#include "core/app/settingsFile.h"

#include <QLineEdit>

void FTPform::Command1_Click()
{
    const SettingsRecord fields = {text1->text(), text2->text(), text3->text(),
                                   text4->text(), Text8->text(), Text6->text()};
    EventLog::addSecret(text3->text());
    const QString path = fMyPath() + QStringLiteral("ftp.txt");
    if (!WriteSettingsFile(path, fields)) {
        EventLog::warning(QStringLiteral("settings: not saved to %1").arg(EventLog::quote(path)));
        m_platform.showMessage(kSettingsNotSaved);
        return;
    }
    EventLog::info(QStringLiteral("settings: saved to %1 server=%2 user=%3 folder=%4 minute=%5 second=%6")
                       .arg(EventLog::quote(path), EventLog::quote(fields[0]), EventLog::quote(fields[1]),
                            EventLog::quote(fields[3]), EventLog::quote(fields[4]), EventLog::quote(fields[5])));
}
