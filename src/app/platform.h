#pragma once
// Everything the window asks of the world outside it: the clock, message boxes, ending
// the process, and the folder the program lives in. The window holds one Platform and
// never reaches past it, so tests can set the clock to any second, read every message
// shown and see the program end without it dying.

#include <QString>
#include <QTime>

#include <functional>

class QObject;

class Platform {
public:
    virtual ~Platform() = default;

    // Time of day, local.
    virtual QTime timeOfDay() = 0;
    // Seconds from an arbitrary start that never jump back, not even at midnight.
    virtual double monotonicSeconds() = 0;

    // A modal message box: OK only, no icon, titled "Skylark". Returns when it is closed.
    virtual void showMessage(const QString& text) = 0;

    // Ends the process at once: no unload handling, no message.
    virtual void endProcess() = 0;

    // The folder holding the executable, as the platform reports it.
    virtual QString applicationFolder() = 0;

    // Handles pending window events, sleeping at most maxSeconds until one arrives.
    // Waits that must keep the window alive call this instead of spinning.
    virtual void waitForEvents(double maxSeconds) = 0;
};

// The real one: system clock, QMessageBox, _Exit, applicationDirPath.
class DesktopPlatform final : public Platform {
public:
    QTime timeOfDay() override;
    double monotonicSeconds() override;
    void showMessage(const QString& text) override;
    void endProcess() override;
    QString applicationFolder() override;
    void waitForEvents(double maxSeconds) override;

    // Runs just before endProcess() ends the process: the last word for the log and
    // whatever must not be left behind.
    void setOnEnd(std::function<void()> onEnd) { m_onEnd = std::move(onEnd); }

private:
    std::function<void()> m_onEnd;
};

// Calls `handler` from the event loop, with the signal's name, when the process is asked
// to end from outside (SIGTERM from a service manager, SIGINT, SIGHUP), instead of dying
// on the spot. Where the platform has no such signals, nothing happens.
void OnEndRequest(QObject* context, std::function<void(const QString& signal)> handler);
