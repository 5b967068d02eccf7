#pragma once
// A test server script run as a child process: started with its arguments, it prints
// the port it listens on as its first line. Shared by the FTP, FTPS and SFTP test servers.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <memory>

class ServerProcess {
public:
    ServerProcess() = default;
    ~ServerProcess() { stop(); }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    // Starts /usr/bin/python3 with args and waits (at most timeoutMs) for the port. The
    // child gets SIGTERM when the test process dies. stderrFile receives the script's
    // complaints; they are printed when it does not come up. Returns 0 on failure.
    quint16 start(const QString& what, const QStringList& args, const QString& stderrFile, int timeoutMs = 20000);
    // Ends the child by its process id: terminate, then kill. Safe to call twice.
    void stop();

private:
    std::unique_ptr<QProcess> m_process;
};

// Whether /usr/bin/python3 imports `module`, which a test server script needs; if not,
// `why` (when given) names the package that brings it.
bool pythonHas(const QString& module, const QString& package, QString* why);

// Whether a server's command log shows a login (USER or PASS): a failure of trust must
// leave none.
inline bool sentLogin(const QStringList& commands)
{
    for (const auto& c : commands)
        if (c.startsWith(QLatin1String("USER")) || c.startsWith(QLatin1String("PASS")))
            return true;
    return false;
}

// Skips the calling test when this kind of server cannot run here (available() says
// why). A macro, not a helper function: QSKIP returns from the function it is written
// in, and a helper's return would let the test run on and fail.
#define SKYLARK_SKIP_UNLESS_AVAILABLE(Server)                                                                          \
    do {                                                                                                               \
        QString whyNot;                                                                                                \
        if (!Server::available(&whyNot))                                                                               \
            QSKIP(qPrintable(whyNot));                                                                                 \
    } while (false)
