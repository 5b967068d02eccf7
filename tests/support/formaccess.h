#pragma once
// The one way tests look inside the window: its controls under the names the window
// gives them, its FTP session, and the few values no control shows. Tests drive the
// window through the controls (click, type, fire a timer) and check what it shows, what
// it sent and what the session holds.
//
//   FTPformTestAccess f(form);
//   f.Text8->setText("30");
//   f.Command4->click();
//   emit f.Timer5->timeout();
//   f.settle();                     // the connect runs on the session's thread
//   QVERIFY(f.session().connected());

#include "window/app/ftpForm.h"
#include "window/ftp/keyedTree.h"
#include "window/local/dirListBox.h"
#include "window/local/driveListBox.h"
#include "window/local/fileListBox.h"
#include "window/scheduler/formTimer.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

class FTPformTestAccess {
public:
    explicit FTPformTestAccess(FTPform& form)
        : form(form), text1(form.text1), text2(form.text2), text3(form.text3), txtProxy(form.txtProxy),
          chkPassive(form.chkPassive), cmdConnect(form.cmdConnect), cmdDisconnect(form.cmdDisconnect),
          TreeView1(form.TreeView1), cmdGet(form.cmdGet), cmdPut(form.cmdPut), optBin(form.optBin),
          optAscii(form.optAscii), Drive1(form.Drive1), Dir1(form.Dir1), File1(form.File1), Label6(form.Label6),
          Command3(form.Command3), Text11(form.Text11), Text10(form.Text10), Text9(form.Text9), Label10(form.Label10),
          Command7(form.Command7), Label13(form.Label13), Command4(form.Command4), Text8(form.Text8), Text6(form.Text6),
          Command6(form.Command6), Command5(form.Command5), Text5(form.Text5), text4(form.text4),
          Command1(form.Command1), Command2(form.Command2), Timer3(form.Timer3), Timer4(form.Timer4),
          Timer5(form.Timer5), Timer6(form.Timer6), Timer7(form.Timer7)
    {
    }
    FTPform& form;
    QLineEdit* const text1;
    QLineEdit* const text2;
    QLineEdit* const text3;
    QLineEdit* const txtProxy;
    QCheckBox* const chkPassive;
    QPushButton* const cmdConnect;
    QPushButton* const cmdDisconnect;
    KeyedTree* const TreeView1;
    QPushButton* const cmdGet;
    QPushButton* const cmdPut;
    QRadioButton* const optBin;
    QRadioButton* const optAscii;
    DriveListBox* const Drive1;
    DirListBox* const Dir1;
    FileListBox* const File1;
    QLabel* const Label6;
    QPushButton* const Command3;
    QLineEdit* const Text11;
    QLineEdit* const Text10;
    QLineEdit* const Text9;
    QLabel* const Label10;
    QPushButton* const Command7;
    QLabel* const Label13;
    QPushButton* const Command4;
    QLineEdit* const Text8;
    QLineEdit* const Text6;
    QPushButton* const Command6;
    QPushButton* const Command5;
    QLineEdit* const Text5;
    QLineEdit* const text4;
    QPushButton* const Command1;
    QPushButton* const Command2;
    FormTimer* const Timer3;
    FormTimer* const Timer4;
    FormTimer* const Timer5;
    FormTimer* const Timer6;
    FormTimer* const Timer7;

    const ImageList& imageList() const { return form.ImageList1; }
    const SessionThread& session() const { return form.m_session; }
    // The session's handles and listing as the window sees them, writable so a test can
    // set up a state the server cannot produce (a listing that names an entry twice).
    std::int32_t& hInternet() { return form.m_session.m_internet; }
    std::int32_t& hFtp() { return form.m_session.m_session; }
    QList<RemoteEntry>& listing() { return form.m_session.m_listing; }
    bool connected() const { return form.m_session.connected(); }

    // No call is under way, and nothing waits for one.
    bool idle() const { return !form.m_session.busy() && form.m_waitingClicks.empty() && !form.m_hourly.waiting(); }
    // Lets the event loop run until the window is idle: what a click or a tick started
    // on the session's thread has come back, as it would at once from a fast server.
    void settle(int timeoutMs = 120000) const
    {
        // Each answer comes as an event, so the loop sleeps until the next one; the
        // timer only lets the time limit be seen.
        QElapsedTimer waited;
        waited.start();
        QTimer wake;
        wake.start(100);
        while (!idle()) {
            if (waited.elapsed() > timeoutMs) {
                qWarning("the window did not come to rest");
                return;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
    }
    // A click, and whatever it started on the session's thread.
    void click(QAbstractButton* button) const
    {
        QTest::mouseClick(button, Qt::LeftButton);
        settle();
    }
    void fire(FormTimer* timer) const
    {
        emit timer->timeout();
        settle();
    }
    QString& sendFile() { return form.sSendFile; }
    std::int32_t& endWait() { return form.lEndWait; }
    std::int32_t transferType() const { return form.lTransferType; }
    QString myPath() const { return form.fMyPath(); }

    // Steps that no control starts on its own.
    void errorOut(std::uint32_t code, const QString& call) { form.ErrorOut(FtpFailure{code, call, {}, {}}); }
    bool changeRemoteDir(const QString& path)
    {
        std::optional<bool> changed;
        form.m_handlers.start([](FTPform& f, QString p, std::optional<bool>& out) -> Task<> {
            out = co_await f.ChangeRemoteDir(p);
        }(form, path, changed));
        settle();
        return changed.value_or(false);
    }
    void showListing(const QString& key) { form.ShowListing(key, form.text1->text()); }
};
