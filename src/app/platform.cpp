#include "app/platform.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QSet>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

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
    open.insert(text);
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Skylark"), text, QMessageBox::Ok);
    // exec() runs a nested event loop, so timer ticks keep arriving while the box waits
    // for its OK: an hourly upload is never held up by a box from an earlier hour.
    box.exec();
    open.remove(text);
}

void DesktopPlatform::endProcess()
{
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
