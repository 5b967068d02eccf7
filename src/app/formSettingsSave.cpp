#include "app/ftpForm.h"

#include "app/platform.h"
#include "app/settingsFile.h"

#include <QLineEdit>

void FTPform::Command1_Click()
{
    const SettingsRecord fields = {text1->text(), text2->text(), text3->text(),
                                   text4->text(), Text8->text(), Text6->text()};
    if (!WriteSettingsFile(fMyPath() + QStringLiteral("ftp.txt"), fields))
        m_platform.showMessage(QStringLiteral("設定を保存できませんでした"));
}
