#include "window/app/platform.h"

#include "core/base/eventLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#ifdef Q_OS_LINUX
#include <QFile>

#include <sys/prctl.h>
#endif
#ifdef Q_OS_UNIX
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif
#ifdef Q_OS_WIN
#include <QAbstractNativeEventFilter>
#include <QPointer>

#include <windows.h>
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
    if (m_endRequested) {
        eventlog::info(QStringLiteral("box: not shown %1 (the program is ending)").arg(eventlog::quote(text)));
        return;
    }
    // A lasting fault seen on every timer tick must not pile up boxes: while a box with
    // this very text is open, another one adds nothing.
    for (const QMessageBox* open : std::as_const(m_openBoxes))
        if (open->text() == text)
            return;
    // Every open box holds a nested event loop on the stack, and texts that differ each
    // time (a reply naming a session or a time) would nest without end over months with
    // nobody pressing OK, until the stack runs out. Past this many, the log alone has it.
    constexpr qsizetype kMostOpenBoxes = 16;
    if (m_openBoxes.size() >= kMostOpenBoxes) {
        eventlog::warning(
            QStringLiteral("box: not shown %1 (%2 open already)").arg(eventlog::quote(text)).arg(m_openBoxes.size()));
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Skylark"), text, QMessageBox::Ok);
    m_openBoxes.append(&box);
    // Where nobody looks at the screen, the log is the only place a box is seen.
    eventlog::info(QStringLiteral("box: shown %1 (%2 open)").arg(eventlog::quote(text)).arg(m_openBoxes.size()));
    // exec() runs a nested event loop, so timer ticks keep arriving while the box waits
    // for its OK: an hourly upload is never held up by a box from an earlier hour.
    box.exec();
    m_openBoxes.removeOne(&box);
    eventlog::info(QStringLiteral("box: closed %1").arg(eventlog::quote(text)));
}

bool DesktopPlatform::askYesNo(const QString& text, bool yesByDefault)
{
    if (m_endRequested) {
        eventlog::info(QStringLiteral("box: not asked %1 (the program is ending)").arg(eventlog::quote(text)));
        return false;
    }
    // The lines stay as the asker broke them: a plain box wraps a long line at its
    // colons, and a fingerprint is to be read on one line.
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Skylark"),
                    QStringLiteral("<p style=\"white-space:pre\">") + text.toHtmlEscaped() + QStringLiteral("</p>"));
    box.setTextFormat(Qt::RichText);
    // Y and N answer it from the keyboard, as in the system's own Japanese boxes.
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yesByDefault ? yes : no);
    box.setEscapeButton(no);
    // Among the open boxes, so that an end request closes it as it closes them (with
    // no answer, which is いいえ).
    m_openBoxes.append(&box);
    eventlog::info(QStringLiteral("box: asked %1 (%2 open)").arg(eventlog::quote(text)).arg(m_openBoxes.size()));
    box.exec();
    m_openBoxes.removeOne(&box);
    const bool answer = box.clickedButton() == yes;
    eventlog::info(QStringLiteral("box: answered %1 to %2")
                       .arg(answer ? QStringLiteral("yes") : QStringLiteral("no"), eventlog::quote(text)));
    return answer;
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

// Calls `handler` from the event loop, with the signal's name, when the process is asked
// to end from outside (SIGTERM, SIGINT, SIGHUP), instead of dying on the spot.
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
} // namespace
#elif defined(Q_OS_WIN)
namespace {
// Windows asks in two ways: a console's Ctrl+C, Ctrl+Break or close, on a thread the
// system starts for it, and the end of the user's session, as a message to each
// top-level window. Both reach the handler on the window's thread.
QPointer<QObject> endContext;
std::function<void(const QString&)> endHandler;

void callEndHandler(const QString& name)
{
    if (endContext && endHandler)
        endHandler(name);
}

BOOL WINAPI onConsoleEvent(DWORD type)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return FALSE;
    const QString name = type == CTRL_C_EVENT       ? QStringLiteral("CTRL_C_EVENT")
                         : type == CTRL_BREAK_EVENT ? QStringLiteral("CTRL_BREAK_EVENT")
                         : type == CTRL_CLOSE_EVENT ? QStringLiteral("CTRL_CLOSE_EVENT")
                                                    : QStringLiteral("console event %1").arg(type);
    // After a close, a logoff or a shutdown the system ends the process once this
    // returns: the window closes first. Ctrl+C and Ctrl+Break wait for nothing.
    const bool ending = type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT;
    QMetaObject::invokeMethod(
        app, [name] { callEndHandler(name); }, ending ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
    return TRUE;
}

class SessionEndFilter final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override
    {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG* msg = static_cast<const MSG*>(message);
        switch (msg->message) {
        case WM_QUERYENDSESSION:
            // Skylark never holds up the end of a session; it closes at WM_ENDSESSION.
            *result = TRUE;
            return true;
        case WM_ENDSESSION:
            // The process may be ended as soon as this returns, so the window closes
            // here and now. Each top-level window gets the message; the handler acts once.
            if (msg->wParam)
                callEndHandler(QStringLiteral("WM_ENDSESSION"));
            *result = 0;
            return true;
        default:
            return false;
        }
    }
};

void OnEndRequest(QObject* context, std::function<void(const QString& signal)> handler)
{
    endContext = context;
    endHandler = std::move(handler);
    static SessionEndFilter filter;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installNativeEventFilter(&filter);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
} // namespace
#else
namespace {
// Where the platform has no such signals, nothing asks the program to end.
void OnEndRequest(QObject*, std::function<void(const QString&)>) {}
} // namespace
#endif

void DesktopPlatform::endOnRequest(QObject* context, std::function<void(const QString& signal)> close)
{
    OnEndRequest(context, [this, close = std::move(close)](const QString& signal) {
        if (m_endRequested)
            return; // a second signal while the first is handled
        m_endRequested = true;
        eventlog::info(QStringLiteral("end requested: %1; closing the window").arg(signal));
        // Each box's loop ends once this handler returns to it; the innermost first.
        for (qsizetype i = m_openBoxes.size(); i-- > 0;)
            m_openBoxes[i]->done(QMessageBox::Ok);
        close(signal);
        QCoreApplication::quit();
    });
}

void DesktopPlatform::endProcess()
{
    if (m_onEnd)
        m_onEnd();
    std::fflush(nullptr);
    std::_Exit(0);
}

bool DesktopPlatform::keepMemoryPrivate()
{
#ifdef Q_OS_LINUX
    // A debugger that started the program has attached already; it must not be cut off.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("TracerPid:") && line.mid(10).trimmed() != "0")
                return false;
    }
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
#else
    return false;
#endif
}

QString DesktopPlatform::applicationFolder()
{
    return QCoreApplication::applicationDirPath();
}

void DesktopPlatform::callAt(double at, QObject* context, std::function<void()> then)
{
    if (!context)
        return;
    // Rounded up: a precise timer never comes early by a fraction of a millisecond.
    const double ms = std::ceil((at - monotonicSeconds()) * 1000.0);
    QTimer::singleShot(static_cast<int>(std::clamp(ms, 0.0, 2147483647.0)), Qt::PreciseTimer, context, std::move(then));
}
