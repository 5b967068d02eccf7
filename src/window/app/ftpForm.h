#pragma once
// FTPform: Skylark's one window. It holds the controls, turns the operator's clicks and
// the timers' ticks into calls on the FTP session and the scheduler's rules, and shows
// what they answer. Its handlers carry the names of the controls and events they serve
// (Command4_Click is the hourly arming button's click), so each one can be found from
// what the operator sees.
//
// The text boxes are the live source of the settings: the scheduler reads them again on
// every tick, so an edit after arming takes effect at once.
//
// The network is never waited for on the window's thread. A handler that makes a call
// is a coroutine: it is suspended at the call and goes on with its next step when the
// answer is in, while the window draws and other handlers run. Where that could let two
// things overlap that a window blocked in the call never could, the window keeps the
// old order: a click on Connect, Disconnect, the manual transfer or a folder waits for
// the call under way and is served after it, in the order clicked; an hourly connect or
// disconnect stage that comes due meanwhile runs right after it, and an upload stage
// leaves its hour to be tried again (the hourly job decides, see hourlyJob.h).
//
// Names, here and in the whole program. The window's historic names keep their
// spelling: the controls (text1, Command4, Timer5), the handlers (Command4_Click,
// Timer5_Timer), the procedures (fMyPath, EnableUI, ErrorOut, ConnectSession,
// ListRemoteDir, RefreshSendFile, SplitClockText) and the state (lTransferType, sSendFile,
// lEndWait); so do the WinInet calls and constants the FTP layer mirrors
// (InternetConnectA, ERROR_NO_MORE_FILES) and the old toolkit's LoadPicture. Every other
// name is our own and is written one way: types PascalCase, functions and variables
// camelCase, members m_camelCase, constants kPascalCase, macros SKYLARK_UPPER_CASE,
// namespaces lower case.

#include "core/base/task.h"
#include "core/ftp/sessionThread.h"
#include "core/scheduler/hourReports.h"
#include "core/scheduler/hourlyJob.h"
#include "window/app/platform.h"
#include "window/ftp/imageList.h"

#include <QWidget>

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class DirListBox;
class DriveListBox;
class FileListBox;
class FormTimer;
class KeyedTree;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidgetItem;
struct ClockParts;

class FTPform : public QWidget {
    Q_OBJECT
public:
    explicit FTPform(Platform& platform, QWidget* parent = nullptr);
    ~FTPform() override;

    // The load event: runs the start-up before the window is first shown. Returns
    // false when it ended the program on the missing-files path.
    bool Form_Load();
    // Arms the hourly upload as a click on "下の時間に毎時転送" does, with the same checks
    // and messages: for a start without anyone at the screen (--arm).
    void armHourlyUpload();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class FTPformTestAccess; // tests/support/formaccess.h: the one way tests look inside

    // The unload event: runs when the operator closes the window.
    void Form_Unload();

    QString fMyPath();
    void EnableUI(bool flag);
    // Reports a failed call: its error code, its name and the server's reply travel in
    // the failure. Returns the box it opened, if any (0: none).
    MessageId ErrorOut(const FtpFailure& failure);

    // Handlers. Those that return a Task wait for the network.
    void Command1_Click(); // save settings
    void Command2_Click(); // End
    Task<> cmdConnect_Click();
    Task<> cmdDisconnect_Click();
    Task<> TreeView1_MouseUp(); // the tree's mouse notification: open or close a folder
    void Drive1_Change();
    void Dir1_Change();
    Task<> Command5_Click(); // manual transfer
    void Timer3_Timer();     // clock
    void Command3_Click();   // arm the program end
    void Command7_Click();   // cancel the program end
    void Command4_Click();   // arm the hourly upload
    void Command6_Click();   // stop the hourly upload
    void Timer7_Timer();     // refresher
    Task<> Timer5_Timer();   // connect stage
    Task<> Timer4_Timer();   // upload stage
    Task<> Timer6_Timer();   // disconnect stage

    // The FTP session and the remote tree.
    // Why it failed, if it did (the operator has been told).
    Task<std::optional<FtpFailure>> ConnectSession(QString server, QString user, QString password);
    // A session just opened, as Connect shows it: the controls of a connected client,
    // the server in the tree, and its starting folder under it.
    Task<> showNewSession(QString server);
    // The operator's Connect alone: whether an SFTP server's host key is trusted, asking
    // the operator when it is new or changed (before any login), and whether what a
    // server offered is trusted now, asking likewise.
    Task<bool> hostKeyTrusted(QString server);
    bool trustOffered(const ServerIdentity& offered);
    void CloseSession();
    // Closes the FTP session, empties the listing, takes the server out of the tree
    // and returns the controls to their not-connected state.
    Task<> endSession();
    void ClearFields();
    // Takes the server's node (named as the server box read when the session was
    // closed) out of the tree.
    void removeServerNode(const QString& server);
    Task<> ListRemoteDir(QString path);
    // Shows the last listing under the node `key`; the server's own node when `key` is
    // the server (as its box read when the listing was asked for) and the listing empty.
    void ShowListing(const QString& key, const QString& server);
    // False when the folder could not be made current (the operator has been told).
    Task<bool> ChangeRemoteDir(QString path);

    // The scheduler's shared steps.
    QString clockNow();
    void RefreshSendFile();
    // One arming of the program end: when its wait began and how long it is, and the
    // end time as it was typed.
    struct EndArming {
        double start = 0;
        long wait = 0;
        QString hour, minute, second;
    };
    void awaitProgramEnd(const EndArming& arming);
    void programEndDue(const EndArming& arming);
    void endProgramNow();

    // The hourly stages and tries: what a tick reads of the window for the hourly job,
    // carrying out its answer, and a run of its steps with the session's calls.
    HourlyTick hourlyTick();
    HourlyTick stageTick(); // and the clock label stamped with its time
    HourImage hourImage();
    Task<> carryOut(HourlyAnswer answer);
    // The same for an answer outside a tick (a stage that came due during a call).
    void startHourly(const HourlyAnswer& answer);
    Task<> runHourly(HourlyRun run);

    // Runs a handler. A run-time fault ends it, what it did before the fault stays
    // done, the fault is logged under the handler's name, and the handler's one fixed
    // message, where it has one, is shown.
    void dispatch(void (FTPform::*handler)(), const char* name, const QString& faultMessage = {});
    // The same for a handler that waits for the network. A click waits for the call
    // under way (and for the clicks before it), as a blocked window would have queued it.
    using AsyncHandler = Task<> (FTPform::*)();
    enum class Source { Timer, Click };
    void dispatch(AsyncHandler handler, const char* name, Source source, const QString& faultMessage = {});
    void startHandler(AsyncHandler handler, const char* name, Source source, const QString& faultMessage);
    // The guard itself: runs a step of the handler `name`; false when a fault ended it.
    enum class BoxWait { No, UntilClosed };
    bool guarded(const char* name, const QString& faultMessage, const std::function<void()>& step,
                 BoxWait wait = BoxWait::No);
    void reportFault(const char* name, const QString& faultMessage, const std::exception_ptr& fault,
                     BoxWait wait = BoxWait::No);
    // After an answer: the clicks that waited, then an hourly stage that came due during
    // the call, while no call is under way.
    void serveWaiting();
    // The end of the network for the program: the session's thread ends (within a
    // second) as `how` says, and what waited for a call is dropped.
    void stopNetwork(SessionThread::Ending how, const QString& why);
    void showBusy();
    void createControls();
    void connectHandlers();
    void setTabOrder();
    void startUp();

    // Connection area.
    QLabel* Label2;             // "Server Name" caption
    QLineEdit* text1;           // server name; also the key of the server's node in the tree
    QLabel* Label3;             // "User Name" caption
    QLineEdit* text2;           // user name
    QLabel* label4;             // "Password" caption
    QLineEdit* text3;           // password, shown as asterisks
    QLineEdit* txtProxy;        // proxy (never shown)
    QCheckBox* chkPassive;      // passive mode (never shown; checked at start-up)
    QPushButton* cmdConnect;    // Connect
    QPushButton* cmdDisconnect; // Disconnect
    // Remote tree, and the transfer controls that are never shown.
    KeyedTree* TreeView1;   // the server and its folders, opened folder by folder
    ImageList ImageList1;   // the tree's pictures: root, closed, open, leaf
    QPushButton* cmdGet;    // single-file get (never shown)
    QPushButton* cmdPut;    // single-file put (never shown)
    QRadioButton* optBin;   // binary transfers (never shown; the one used)
    QRadioButton* optAscii; // ASCII transfers (never shown)
    // Local browser and clock.
    DriveListBox* Drive1; // local drives
    DirListBox* Dir1;     // folders of the chosen drive
    FileListBox* File1;   // files of the chosen folder
    QLabel* Label6;       // the clock, H:mm:ss; the scheduler reads the time back from it
    // Program end.
    QFrame* Line2;         // rule above the scheduler area
    QFrame* Line1;         // rule between program end and hourly upload
    QPushButton* Command3; // arm the program end
    QLineEdit* Text11;     // program end: hour
    QLabel* Label1;        // "時"
    QLineEdit* Text10;     // program end: minute
    QLabel* Label5;        // "分"
    QLineEdit* Text9;      // program end: second
    QLabel* Label9;        // "秒"
    QLabel* Label10;       // program-end status
    QPushButton* Command7; // cancel the program end
    // Hourly upload and manual transfer.
    QLabel* Label13;       // hourly upload status
    QPushButton* Command4; // arm the hourly upload
    QLineEdit* Text8;      // hourly minute
    QLabel* Label7;        // "分"
    QLineEdit* Text6;      // hourly second
    QLabel* Label8;        // "秒"
    QLabel* Label11;       // "右の上段から下段へ"
    QPushButton* Command6; // stop the hourly upload
    QPushButton* Command5; // send the upper path box's file now
    QLineEdit* Text5;      // upper path box: local file to send
    QLineEdit* text4;      // lower path box: server name followed by the upload folder
    QPushButton* Command1; // save the settings
    QPushButton* Command2; // End
    // Timers.
    FormTimer* Timer3; // clock, every second
    FormTimer* Timer4; // upload stage
    FormTimer* Timer5; // connect stage
    FormTimer* Timer6; // disconnect stage
    FormTimer* Timer7; // refresher of the file to send

    // State.
    Platform& m_platform;           // clock, message boxes, process end, program folder
    SessionThread m_session;        // Internet and session handles, connected flag, last listing
    std::int32_t lTransferType = 0; // transfer type of every upload: binary from start-up on
    QString sSendFile;              // name (no folder) of the file to send, e.g. 10.jpg
    std::int32_t lEndWait = 0;      // seconds of the latest program-end wait; 0 when cancelled
    QString m_myPath;               // fMyPath's cache: filled by the first call, never changed after

    // Handlers waiting for the network, and what waits for them.
    struct WaitingClick {
        AsyncHandler handler;
        const char* name;
        QString faultMessage;
        QString selectedKey; // the tree's selection when the click came
    };
    std::deque<WaitingClick> m_waitingClicks; // clicks that came during a call, in order
    int m_clicksRunning = 0;                  // clicked handlers under way: the busy pointer
    HourlyJob m_hourly;                       // the hourly upload: every hour from its connect stage to its last try
    std::unique_ptr<HourReports> m_reports;   // each hour's record and the owner's messages, from the start-up on
    QObject* m_endWaits = nullptr;            // the program-end waits; gone with the unload

    // Handlers under way; those left at the end go with the window. Declared last, so
    // destroyed first: a handler's frame may still refer to the members above as it is
    // destroyed.
    TaskSet m_handlers;
};

// A twips measure of the layout in pixels (15 twips to a pixel at 96 dpi).
constexpr int twips(int value)
{
    return (value + 7) / 15;
}
