#include "app/platform.h"

#include "base/eventLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {
QElapsedTimer& monotonic()
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer;
}
} // namespace

QTime DesktopPlatform::timeOfDay()
{
    return QTime::currentTime();
}

double DesktopPlatform::monotonicSeconds()
{
    return static_cast<double>(monotonic().nsecsElapsed()) / 1e9;
}

void DesktopPlatform::showMessage(const QString& text)
{
    // A lasting fault seen on every timer tick must not pile up boxes: while a box with
    // this very text is open, another one adds nothing.
    static QSet<QString> open;
    if (open.contains(text))
        return;
    // Every open box holds a nested event loop on the stack, and texts that differ each
    // time (a reply naming a session or a time) would nest without end over months with
    // nobody pressing OK, until the stack runs out. Past this many, the log alone has it.
    constexpr qsizetype kMostOpenBoxes = 16;
    if (open.size() >= kMostOpenBoxes) {
        EventLog::warning(
            QStringLiteral("box: not shown %1 (%2 open already)").arg(EventLog::quote(text)).arg(open.size()));
        return;
    }
    open.insert(text);
    // Where nobody looks at the screen, the log is the only place a box is seen.
    EventLog::info(QStringLiteral("box: shown %1 (%2 open)").arg(EventLog::quote(text)).arg(open.size()));
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Skylark"), text, QMessageBox::Ok);
    // exec() runs a nested event loop, so timer ticks keep arriving while the box waits
    // for its OK: an hourly upload is never held up by a box from an earlier hour.
    box.exec();
    open.remove(text);
    EventLog::info(QStringLiteral("box: closed %1").arg(EventLog::quote(text)));
}

void DesktopPlatform::endProcess()
{
    if (m_onEnd)
        m_onEnd();
    std::fflush(nullptr);
    std::_Exit(0);
}

QString DesktopPlatform::applicationFolder()
{
    return QCoreApplication::applicationDirPath();
}

void DesktopPlatform::waitForEvents(double maxSeconds)
{
    // A single-shot wake-up bounds the sleep; WaitForMoreEvents sleeps in the event
    // dispatcher instead of polling, so a long wait costs no CPU.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(static_cast<int>(maxSeconds * 1000.0));
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

#ifdef Q_OS_UNIX
namespace {
int endRequestPipe[2] = {-1, -1};

// Only the signal's number crosses into the event loop: nothing else is safe to do here.
void onSignal(int number)
{
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(endRequestPipe[1], &byte, 1);
}
} // namespace

void OnEndRequest(QObject* context, std::function<void(const QString& signal)> handler)
{
    if (endRequestPipe[0] < 0) {
        if (::pipe(endRequestPipe) != 0)
            return;
        for (int fd : endRequestPipe) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    auto* notifier = new QSocketNotifier(endRequestPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler = std::move(handler)] {
        unsigned char byte = 0;
        while (::read(endRequestPipe[0], &byte, 1) == 1) {
            const int number = byte;
            handler(number == SIGTERM  ? QStringLiteral("SIGTERM")
                    : number == SIGINT ? QStringLiteral("SIGINT")
                    : number == SIGHUP ? QStringLiteral("SIGHUP")
                                       : QStringLiteral("signal %1").arg(number));
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
}
#else
void OnEndRequest(QObject*, std::function<void(const QString&)>) {}
#endif
