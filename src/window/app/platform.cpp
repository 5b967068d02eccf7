#include "window/app/platform.h"

#include "core/base/eventLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
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

QDateTime DesktopPlatform::now()
{
    return QDateTime::currentDateTime();
}

double DesktopPlatform::monotonicSeconds()
{
    return static_cast<double>(monotonic().nsecsElapsed()) / 1e9;
}

namespace {
// Marks a box that the program closed because what it told has gone by.
constexpr const char* kClosedByProgram = "skylarkClosedByProgram";
} // namespace

DesktopPlatform::~DesktopPlatform()
{
    // Boxes still open when the program ends go with it.
    for (const OpenBox& open : std::as_const(m_openBoxes))
        delete open.box;
}

DesktopPlatform::OpenBox DesktopPlatform::open(const QString& text)
{
    if (m_endRequested) {
        eventlog::info(QStringLiteral("box: not shown %1 (the program is ending)").arg(eventlog::quote(text)));
        return {};
    }
    // A lasting fault seen on every timer tick must not pile up boxes: while a box with
    // this very text is open, another one adds nothing.
    for (const OpenBox& open : std::as_const(m_openBoxes))
        if (open.box->text() == text)
            return open;
    // Texts that differ each time (a reply naming a session or a time) would open box
    // upon box over months with nobody pressing OK. Past this many, the log alone has it.
    constexpr qsizetype kMostOpenBoxes = 16;
    if (m_openBoxes.size() >= kMostOpenBoxes) {
        eventlog::warning(
            QStringLiteral("box: not shown %1 (%2 open already)").arg(eventlog::quote(text)).arg(m_openBoxes.size()));
        return {};
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Skylark"), text, QMessageBox::Ok);
    // Modal for the operator, as the boxes always were, without a loop of its own.
    box->setWindowModality(Qt::ApplicationModal);
    const OpenBox opened{++m_lastId, box};
    m_openBoxes.append(opened);
    QObject::connect(box, &QDialog::finished, box, [this, id = opened.id, box] {
        m_openBoxes.removeIf([id](const OpenBox& open) { return open.id == id; });
        eventlog::info(
            QStringLiteral("box: closed%1 %2")
                .arg(box->property(kClosedByProgram).toBool() ? QStringLiteral(" by the program") : QString(),
                     eventlog::quote(box->text())));
        box->deleteLater();
    });
    // Where nobody looks at the screen, the log is the only place a box is seen.
    eventlog::info(QStringLiteral("box: shown %1 (%2 open)").arg(eventlog::quote(text)).arg(m_openBoxes.size()));
    box->show();
    return opened;
}

MessageId DesktopPlatform::showMessage(const QString& text)
{
    return open(text).id;
}

void DesktopPlatform::closeMessage(MessageId box)
{
    for (const OpenBox& open : std::as_const(m_openBoxes)) {
        if (open.id == box) {
            open.box->setProperty(kClosedByProgram, true);
            open.box->done(QMessageBox::Ok);
            return;
        }
    }
}

void DesktopPlatform::showMessageAndWait(const QString& text)
{
    QMessageBox* box = open(text).box;
    if (!box)
        return;
    // Until it is closed: by OK, by the program, or by an end request.
    QEventLoop wait;
    QObject::connect(box, &QDialog::finished, &wait, &QEventLoop::quit);
    wait.exec();
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
    const MessageId id = ++m_lastId;
    m_openBoxes.append({id, &box});
    eventlog::info(QStringLiteral("box: asked %1 (%2 open)").arg(eventlog::quote(text)).arg(m_openBoxes.size()));
    // The one box that is waited for while the window runs: the operator's Connect asks,
    // and only the operator's (the hourly upload never asks).
    box.exec();
    m_openBoxes.removeIf([id](const OpenBox& open) { return open.id == id; });
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
// to end from outside (SIGTERM, SIGINT, SIGHUP), instead of dying on the spot. Nothing
// ends the process when the handler returns.
void OnEndRequest(QObject* context, std::function<void(const QString& signal, bool endsOnReturn)> handler)
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
                                       : QStringLiteral("signal %1").arg(number),
                    false);
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
// top-level window. Both reach the handler on the window's thread. After a console's
// close, a logoff or a shutdown, and once every window has answered WM_ENDSESSION, the
// system may end the process at any moment: the whole ending (the goodbye to the
// server, the lock, the log's last line) is done inside the handler, before it returns,
// and nothing of it is left to the event loop.
QPointer<QObject> endContext;
std::function<void(const QString&, bool)> endHandler;

void callEndHandler(const QString& name, bool endsOnReturn)
{
    if (endContext && endHandler)
        endHandler(name, endsOnReturn);
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
    // returns: this thread waits until the window's thread has done the whole ending.
    // Ctrl+C and Ctrl+Break wait for nothing.
    const bool ending = type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT;
    QMetaObject::invokeMethod(
        app, [name, ending] { callEndHandler(name, ending); },
        ending ? Qt::BlockingQueuedConnection : Qt::QueuedConnection);
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
            // Skylark never holds up the end of a session; it ends at WM_ENDSESSION.
            *result = TRUE;
            return true;
        case WM_ENDSESSION:
            // The process may be ended as soon as this returns, so it ends here and now.
            // Each top-level window gets the message; the handler acts once.
            if (msg->wParam)
                callEndHandler(QStringLiteral("WM_ENDSESSION"), true);
            *result = 0;
            return true;
        default:
            return false;
        }
    }
};

void OnEndRequest(QObject* context, std::function<void(const QString& signal, bool endsOnReturn)> handler)
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
void OnEndRequest(QObject*, std::function<void(const QString&, bool)>) {}
} // namespace
#endif

void DesktopPlatform::endOnRequest(QObject* context,
                                   std::function<void(const QString& signal, bool endsOnReturn)> close)
{
    OnEndRequest(context, [this, close = std::move(close)](const QString& signal, bool endsOnReturn) {
        if (m_endRequested)
            return; // a second signal while the first is handled
        m_endRequested = true;
        eventlog::info(QStringLiteral("end requested: %1; closing the window").arg(signal));
        // A box waited for lets its caller go on once this handler has returned.
        const QList<OpenBox> open = m_openBoxes;
        for (const OpenBox& box : open)
            box.box->done(QMessageBox::Ok);
        close(signal, endsOnReturn);
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
