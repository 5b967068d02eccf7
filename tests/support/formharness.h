#pragma once
// A started window beside its own FTP test server: the program folder, the platform
// stand-in and the server, with the connection boxes pointing at that server.

#include "window/app/ftpForm.h"

#include "fakeplatform.h"
#include "formaccess.h"
#include "ftptestserver.h"
#include "programfolder.h"

#include <memory>

class FormHarness {
public:
    explicit FormHarness(FtpTestServerOptions options = {}, const QByteArray& settings = ProgramFolder::kSettings);
    // Closes the window (its unload closes the FTP handles) before the server stops.
    ~FormHarness();

    // Starts the server and the window (Form_Load) and fills the connection boxes.
    bool start();
    // Clicks the tree node with this key, as the operator would, and waits for what the
    // click started.
    void clickNode(const QString& key);
    // The server's name as the window knows it: "127.0.0.1:port".
    QString serverName() const { return QString::fromLatin1(server.address()); }
    QStringList childKeys(const QString& key) const;

    ProgramFolder folder;
    FakePlatform platform;
    FtpTestServer server;
    std::unique_ptr<FTPform> form;
    // The window's insides, once start() has made it.
    FTPformTestAccess& f() const { return *m_access; }

private:
    std::unique_ptr<FTPformTestAccess> m_access;
};

// Steps the window's clock in 500 ms steps up to the given time of day, firing the
// clock tick on each whole second and every scheduler timer that runs, as the real
// timers would, each tick's calls answered before the clock moves on (a server that
// answers at once). Returns the number of steps taken.
int stepClockTo(FormHarness& h, int hour, int minute, int second, int ms = 0);
