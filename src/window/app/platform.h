#pragma once
// Everything the window asks of the world outside it: the clock, message boxes, ending
// the process, and the folder the program lives in. The window holds one Platform and
// never reaches past it, so tests can set the clock to any second, read every message
// shown and see the program end without it dying.

#include <QList>
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

    // A modal question with the buttons はい(Y) and いいえ(N), titled "Skylark", for the
    // operator's Connect alone (whether to trust a server): true for はい. Its lines are
    // shown as the text breaks them, never wrapped. The default button is はい when
    // yesByDefault, else いいえ. A box closed without an answer, or not shown because
    // the program is ending, is いいえ.
    virtual bool askYesNo(const QString& text, bool yesByDefault) = 0;

    // Ends the process at once: no unload handling, no message.
    virtual void endProcess() = 0;

    // The folder holding the executable, as the platform reports it.
    virtual QString applicationFolder() = 0;

    // Calls `then` once, from the event loop, when monotonicSeconds() has reached `at`
    // (or just after), unless `context` has gone by then. A null context calls nothing.
    virtual void callAt(double at, QObject* context, std::function<void()> then) = 0;
};

class QMessageBox;

// The real one: system clock, QMessageBox, _Exit, applicationDirPath.
class DesktopPlatform final : public Platform {
public:
    QTime timeOfDay() override;
    double monotonicSeconds() override;
    void showMessage(const QString& text) override;
    bool askYesNo(const QString& text, bool yesByDefault) override;
    void endProcess() override;
    QString applicationFolder() override;
    void callAt(double at, QObject* context, std::function<void()> then) override;

    // Runs just before endProcess() ends the process: the last word for the log and
    // whatever must not be left behind.
    void setOnEnd(std::function<void()> onEnd) { m_onEnd = std::move(onEnd); }

    // Ends the program when it is asked to from outside (SIGTERM from a service manager,
    // SIGINT, SIGHUP; on Windows a console's Ctrl+C, Ctrl+Break or close, and the end of
    // the session, WM_ENDSESSION), wherever it is: every open box is closed and no new
    // one opens, so each nested event loop is left and the code that opened the box goes
    // on; then `close` runs (it closes the window) and the main event loop, if it runs
    // yet, is told to quit. Before the main loop runs, endRequested() tells the start-up
    // to go no further.
    void endOnRequest(QObject* context, std::function<void(const QString& signal)> close);
    bool endRequested() const { return m_endRequested; }

    // Keeps other processes of the same user from reading the password out of the
    // program's memory, and the system from writing it into a core dump (Linux: not
    // dumpable, so not traceable either). Not under a debugger that started the program.
    // Whether it is in force.
    static bool keepMemoryPrivate();

private:
    std::function<void()> m_onEnd;
    QList<QMessageBox*> m_openBoxes; // innermost last; each one's exec() is on the stack
    bool m_endRequested = false;
};
