// Start-up, the program folder, the enabling rule, and the ways the window ends.
#include "core/app/settingsFile.h"
#include "core/base/eventLog.h"
#include "window/app/ftpForm.h"
#include "window/app/messages.h"
#include "window/app/platform.h"
#include "window/ftp/keyedTree.h"
#include "window/scheduler/formTimer.h"

#include <QCheckBox>
#include <QDir>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

using namespace wininet;

bool FTPform::Form_Load()
{
    text1->move(text1->x(), twips(80));
    text2->move(text2->x(), twips(80));
    text3->move(text3->x(), twips(80));
    Text5->move(Text5->x(), twips(3900));
    // The program ends after the box: it is waited for, so the operator can read it.
    if (!guarded(
            "Form_Load", kMissingFiles, [this] { startUp(); }, BoxWait::UntilClosed)) {
        m_platform.endProcess();
        return false;
    }
    return true;
}

void FTPform::startUp()
{
    for (QLineEdit* box : {Text9, Text10, Text11})
        box->resize(twips(340), box->height());
    for (QLineEdit* box : {Text9, Text10, Text11})
        box->resize(box->width(), twips(300));
    for (QLineEdit* box : {Text6, Text8})
        box->resize(twips(340), box->height());
    for (QLineEdit* box : {Text6, Text8})
        box->resize(box->width(), twips(300));

    Command3->move(twips(240), Command3->y());
    Command7->resize(twips(2415), Command7->height());
    Command6->resize(twips(1935), Command6->height());
    Command6->move(twips(2880), Command6->y());
    cmdDisconnect->move(twips(240), cmdDisconnect->y());
    cmdConnect->move(twips(240), cmdConnect->y());

    chkPassive->setChecked(true);
    optBin->setChecked(true);
    lTransferType = FTP_TRANSFER_TYPE_BINARY;
    fMyPath();
    Timer3->setInterval(1000);

    const QString settings = fMyPath() + QStringLiteral("ftp.txt");
    // Certificates and host keys the operator trusts live beside the settings.
    FtpSession::useTrustFolder(QDir::toNativeSeparators(fMyPath()));
    const SettingsRecord fields = parseSettingsRecord(readSettingsLastLine(settings));
    eventlog::addSecret(fields[2]);
    eventlog::info(QStringLiteral("settings: loaded from %1 server=%2 user=%3 folder=%4 minute=%5 second=%6")
                       .arg(eventlog::quote(settings), eventlog::quote(fields[0]), eventlog::quote(fields[1]),
                            eventlog::quote(fields[3]), eventlog::quote(fields[4]), eventlog::quote(fields[5])));
    text1->setText(fields[0]);
    text2->setText(fields[1]);
    text3->setText(fields[2]);
    text4->setText(fields[3]);
    Text8->setText(fields[4]);
    Text6->setText(fields[5]);

    // Each hour's outcome goes into uploads.csv, and to the owner as alert.txt asks.
    m_reports = std::make_unique<HourReports>(fMyPath());
    m_hourly.onOutcome = [this](const HourOutcome& outcome) { m_reports->hourDecided(outcome); };

    // The pictures are looked up by bare name in the current folder, which the launcher
    // sets to the program's own folder.
    ImageList1.add(QStringLiteral("open"), LoadPicture(QStringLiteral("open.bmp")));
    ImageList1.add(QStringLiteral("closed"), LoadPicture(QStringLiteral("closed.bmp")));
    ImageList1.add(QStringLiteral("leaf"), LoadPicture(QStringLiteral("leaf.bmp")));
    ImageList1.add(QStringLiteral("root"), LoadPicture(QStringLiteral("root.bmp")));
    TreeView1->setImageList(&ImageList1);

    const QIcon icon(fMyPath() + QStringLiteral("skylark.png"));
    if (!icon.availableSizes().isEmpty())
        setWindowIcon(icon);

    EnableUI(false);
    // Opening the Internet handle reaches no server, so the start-up waits for it.
    if (const auto failure = m_session.openInternetNow(txtProxy->text()))
        ErrorOut(*failure);
    EnableUI(true);
}

QString FTPform::fMyPath()
{
    if (!m_myPath.isEmpty())
        return m_myPath;
    m_myPath = QDir::toNativeSeparators(m_platform.applicationFolder());
    if (!m_myPath.endsWith(QDir::separator()))
        m_myPath += QDir::separator();
    return m_myPath;
}

void FTPform::EnableUI(bool flag)
{
    text1->setEnabled(flag);
    text2->setEnabled(flag);
    text3->setEnabled(flag);
    const bool connected = m_session.connected();
    cmdConnect->setEnabled(!connected && flag);
    cmdDisconnect->setEnabled(connected && flag);
    chkPassive->setEnabled(flag);
    txtProxy->setEnabled(!flag);
    optBin->setEnabled(flag);
    optAscii->setEnabled(flag);
    cmdGet->setEnabled(connected && flag);
    cmdPut->setEnabled(connected && flag);
}

void FTPform::Command2_Click()
{
    // At once: a call under way is cut short, and the handles are left to the end of
    // the process.
    stopNetwork(SessionThread::Ending::Abandon, QStringLiteral("the End button"));
    m_platform.endProcess();
}

void FTPform::Form_Unload()
{
    // Nothing waits for the program end or for a call any more.
    delete m_endWaits;
    m_endWaits = nullptr;
    CloseSession();
}
