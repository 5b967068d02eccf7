// The session's thread against a real server: calls given by several coroutines run one
// at a time in the order given and answer on the thread that gave them; the end cuts
// the call under way short, drops the calls not yet made, and no answer comes after it;
// it does not wait for a name lookup that hangs.
#include "core/base/eventLog.h"
#include "core/base/task.h"
#include "core/ftp/sessionThread.h"

#include "ftptestserver.h"
#include "testfiles.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <dlfcn.h>

namespace {

// A coroutine that gives one call and notes where and in which order it was answered.
template <typename CallOf>
Task<> give(CallOf call, QStringList& answers, QString name)
{
    co_await call();
    answers << (QThread::currentThread() == qApp->thread() ? name : name + " (wrong thread)");
}

} // namespace

class TestSessionThread : public QObject {
    Q_OBJECT
private slots:
    void callsRunInTheOrderGivenAndAnswerHere();
    void theEndCutsShortAndDropsTheRest();
    void theEndDoesNotWaitForAHangingLookup();
    void aCutShortConnectionMakesWayForAFreshOne();
};

void TestSessionThread::callsRunInTheOrderGivenAndAnswerHere()
{
    FtpTestServer server;
    server.makeDir("pub");
    QVERIFY(server.start());
    SessionThread session;
    QVERIFY(!session.openInternetNow(QString()));
    QStringList answers;
    TaskSet tasks;
    // Given in one turn of the loop, before any has run.
    tasks.start(give([&] { return session.connect(server.address(), "user", "secret", true); }, answers, "connect"));
    tasks.start(give([&] { return session.changeFolder("/pub"); }, answers, "cwd"));
    tasks.start(give([&] { return session.list(); }, answers, "list"));
    QVERIFY(session.busy());
    QTRY_VERIFY(!session.busy());
    QCOMPARE(answers, QStringList({"connect", "cwd", "list"}));
    QVERIFY(session.connected());
    const QStringList sent = server.commands();
    QVERIFY2(sent.indexOf("PASS ******") < sent.indexOf("CWD /pub") && sent.indexOf("CWD /pub") < sent.indexOf("MLSD"),
             qPrintable(sent.join(" | ")));
    QCOMPARE(tasks.size(), 0u);
}

void TestSessionThread::theEndCutsShortAndDropsTheRest()
{
    FtpTestServerOptions slow;
    slow.delaySeconds = 1.0;
    FtpTestServer server(slow);
    QVERIFY(server.start());
    QTemporaryDir logs;
    QVERIFY(eventlog::open(logs.path()));
    QStringList answers;
    QElapsedTimer took;
    {
        SessionThread session;
        QVERIFY(!session.openInternetNow(QString()));
        TaskSet tasks;
        tasks.start(
            give([&] { return session.connect(server.address(), "user", "secret", true); }, answers, "connect"));
        tasks.start(give([&] { return session.list(); }, answers, "list"));
        QTRY_VERIFY(server.commands().contains("USER user"));
        took.start();
        session.end(SessionThread::Ending::CloseAll, "a test");
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
        QVERIFY(!session.busy() && !session.connected() && !session.internetOpen());
        QTest::qWait(200);
        QCOMPARE(tasks.size(), 2u); // still waiting, for answers that never come
    }
    eventlog::close();
    QVERIFY(answers.isEmpty());
    const QByteArray log = readFile(logs.filePath("skylark.log"));
    QVERIFY2(log.contains("session: ended (a test); cut short: InternetConnect; not made: 1 call"), log.constData());
}

void TestSessionThread::theEndDoesNotWaitForAHangingLookup()
{
    if (!dlsym(RTLD_DEFAULT, "skylarkLookupsOfHangInvalidHang"))
        QSKIP("needs the resolver that hangs preloaded (LD_PRELOAD=libhanglookup.so, as CTest runs it)");
    QTemporaryDir logs;
    QVERIFY(eventlog::open(logs.path()));
    for (const auto how : {SessionThread::Ending::CloseAll, SessionThread::Ending::Abandon}) {
        QStringList answers;
        SessionThread session;
        QVERIFY(!session.openInternetNow(QString()));
        TaskSet tasks;
        tasks.start(
            give([&] { return session.connect("camera.hang.invalid", "user", "secret", true); }, answers, "connect"));
        QTest::qWait(300); // the lookup has begun, and hangs for ten seconds
        QElapsedTimer took;
        took.start();
        session.end(how, "a test");
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
        // And given afterwards (a coroutine that was past its box), a call is not taken.
        tasks.start(give([&] { return session.list(); }, answers, "list"));
        QVERIFY(!session.busy());
        QVERIFY(answers.isEmpty());
    }
    eventlog::close();
    // The thread came out of the lookup in time: it was joined, not left behind.
    const QByteArray log = readFile(logs.filePath("skylark.log"));
    QVERIFY2(log.count("session: ended (a test); cut short: InternetConnect") == 2, log.constData());
    QVERIFY2(!log.contains("left to finish by itself"), log.constData());
}

// A call on a server that has gone silent is cut short within moments; the calls after
// it on that connection fail at once, and a connect given next opens a fresh one that
// works.
void TestSessionThread::aCutShortConnectionMakesWayForAFreshOne()
{
    FtpTestServerOptions options;
    options.silentFrom = QStringLiteral("MLSD");
    FtpTestServer server(options);
    QVERIFY(server.start());
    SessionThread session;
    QVERIFY(!session.openInternetNow(QString()));
    std::optional<FtpFailure> listed;
    std::optional<FtpFailure> cwd;
    std::optional<FtpFailure> again = FtpFailure{};
    TaskSet tasks;
    tasks.start([](SessionThread& s, std::optional<FtpFailure>& listed, std::optional<FtpFailure>& cwd,
                   std::optional<FtpFailure>& again, QByteArray server) -> Task<> {
        co_await s.connect(server, "user", "secret", true);
        ListResult result = co_await s.list();
        listed = std::move(result.failure);
        cwd = co_await s.changeFolder("/");
        co_await s.disconnect();
        again = co_await s.connect(server, "user", "secret", true);
    }(session, listed, cwd, again, server.address()));
    QTRY_VERIFY(server.commands().contains("MLSD"));
    QElapsedTimer took;
    took.start();
    session.cutShort("a test");
    QTRY_VERIFY_WITH_TIMEOUT(tasks.size() == 0, 5000);
    QVERIFY2(took.elapsed() < 1500, qPrintable(QString::number(took.elapsed())));
    QCOMPARE(listed.value_or(FtpFailure{}).code, std::uint32_t(wininet::ERROR_INTERNET_OPERATION_CANCELLED));
    QCOMPARE(cwd.value_or(FtpFailure{}).code, std::uint32_t(wininet::ERROR_INTERNET_OPERATION_CANCELLED));
    QVERIFY(!again);
    QVERIFY(session.connected());
    QCOMPARE(server.commands().count("USER user"), 2);
}

QTEST_MAIN(TestSessionThread)
#include "test_sessionthread.moc"
