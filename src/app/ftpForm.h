#pragma once
// FTPform: Skylark's one window. It owns every control and all the state the handlers
// share; its member functions are spread over the subsystem folders, one file per
// concern (start-up here in app/, the FTP session and tree in ftp/, the local lists in
// local/, the clock, program end and transfers in scheduler/).

#include "app/formTimer.h"
#include "app/imageList.h"
#include "ftp/keyedTree.h"
#include "ftp/modWinInet.h"
#include "local/dirListBox.h"
#include "local/driveListBox.h"
#include "local/fileListBox.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QWidget>

class Platform;
struct ClockParts;

class FTPform : public QWidget {
    Q_OBJECT
public:
    explicit FTPform(Platform& platform, QWidget* parent = nullptr);
    ~FTPform() override;

    // The load event: runs the start-up before the window is first shown. Returns
    // false when it ended the program on the missing-files path.
    bool Form_Load();
    // The unload event: runs when the operator closes the window.
    void Form_Unload();

    QString fMyPath();
    void EnableUI(bool flag);
    void ErrorOut(const std::uint32_t& dError, const QString& szCallFunction);

    // Handlers.
    void Command1_Click(); // save settings
    void Command2_Click(); // End
    void cmdConnect_Click();
    void cmdDisconnect_Click();
    void TreeView1_MouseUp(); // the tree's mouse notification: open or close a folder
    void Drive1_Change();
    void Dir1_Change();
    void Command5_Click(); // manual transfer
    void Timer3_Timer();   // clock
    void Command3_Click(); // arm the program end and wait for it
    void Command7_Click(); // cancel the program end
    void Command4_Click(); // arm the hourly upload
    void Command6_Click(); // stop the hourly upload
    void Timer7_Timer();   // refresher
    void Timer5_Timer();   // connect stage
    void Timer4_Timer();   // upload stage
    void Timer6_Timer();   // disconnect stage

    // The FTP session and the remote tree.
    bool ConnectSession(const QString& server, const QString& user, const QString& password);
    void CloseSession();
    // Closes the FTP session, empties the listing, takes the server out of the tree
    // and returns the controls to their not-connected state.
    void EndSession();
    void ClearFields();
    void ClearListing();
    void RemoveServerNode();
    void ListRemoteDir(const QString& path);
    void ShowListing(const QString& key);
    void ChangeRemoteDir(const QString& path);

    // The scheduler's shared rules.
    QString ClockNow();
    void RefreshSendFile();
    QString RemoteFolderOf(const QString& destination);

    // Controls: connection area.
    QLabel* Label2;
    QLineEdit* text1;
    QLabel* Label3;
    QLineEdit* text2;
    QLabel* label4;
    QLineEdit* text3;
    QLineEdit* txtProxy;
    QCheckBox* chkPassive;
    QPushButton* cmdConnect;
    QPushButton* cmdDisconnect;
    // Remote tree and the transfer controls that are never shown.
    KeyedTree* TreeView1;
    ImageList ImageList1;
    QPushButton* cmdGet;
    QPushButton* cmdPut;
    QRadioButton* optBin;
    QRadioButton* optAscii;
    // Local browser and clock.
    DriveListBox* Drive1;
    DirListBox* Dir1;
    FileListBox* File1;
    QLabel* Label6;
    // Scheduler area.
    QFrame* Line1;
    QFrame* Line2;
    QLabel* Label13;
    QPushButton* Command3;
    QLineEdit* Text11;
    QLabel* Label1;
    QLineEdit* Text10;
    QLabel* Label5;
    QLineEdit* Text9;
    QLabel* Label9;
    QLabel* Label10;
    QPushButton* Command7;
    QPushButton* Command4;
    QLineEdit* Text8;
    QLabel* Label7;
    QLineEdit* Text6;
    QLabel* Label8;
    QLabel* Label11;
    QPushButton* Command6;
    QPushButton* Command5;
    QLineEdit* Text5;
    QLineEdit* text4;
    QPushButton* Command1;
    QPushButton* Command2;
    // Timers.
    FormTimer* Timer3;
    FormTimer* Timer4;
    FormTimer* Timer5;
    FormTimer* Timer6;
    FormTimer* Timer7;

    // Form-level state.
    bool bConnected = false;
    HINTERNET hInternet = 0;
    HINTERNET hFtp = 0;
    std::int32_t lTransferType = 0;
    QStringList colNames;
    QList<std::uint32_t> colAttrs;
    std::int16_t bCdFailed = 0;
    QString sSendFile;
    std::int32_t lEndWait = 0;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Runs a handler that has no fault handling of its own: a run-time fault ends it,
    // and what it did before the fault stays done.
    void dispatch(void (FTPform::*handler)());
    void createControls();
    void armProgramEnd();
    void transferManually();
    struct ClockParts stampClock();
    void setTabOrder();
    void startUp();

    Platform& m_platform;
    QString m_myPath; // fMyPath's cache: filled by the first call, never changed after
    bool m_unloaded = false;
};

// A twips rectangle of the layout in pixels (15 twips to a pixel at 96 dpi).
constexpr int Twips(int twips)
{
    return (twips + 7) / 15;
}
