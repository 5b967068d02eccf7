#pragma once
// Everything the window asks of the world outside it: the clock, message boxes, ending
// the process, and the folder the program lives in. The window holds one Platform and
// never reaches past it, so tests can set the clock to any second, read every message
// shown and see the program end without it dying.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>

#include <cstdint>
#include <functional>

class QObject;

// A message box the program opened; 0 stands for none.
using MessageId = std::uint64_t;

class Platform {
public:
    virtual ~Platform() = default;

    // Date and time of day, local.
    virtual QDateTime now() = 0;
    QTime timeOfDay() { return now().time(); }
    // Seconds from an arbitrary start that never jump back, not even at midnight.
    virtual double monotonicSeconds() = 0;

    // A modal message box: OK only, no icon, titled "Skylark". It opens and this returns
    // at once: the box keeps the operator's clicks off the window until OK, but no code
    // waits in it, so nothing the program does (the hourly upload above all) is held up
    // by a box that nobody answers. While a box with the same text is open, that one is
    // answered for and no second one opens. Returns the box, or 0 when none opened.
    virtual MessageId showMessage(const QString& text) = 0;
    // Closes a box the program opened, if it is still open: what it told has gone by.
    virtual void closeMessage(MessageId box) = 0;
    // The same box, waited for: returns when it is closed. Only for the last word before
    // the program ends, which the operator must be given time to read.
    virtual void showMessageAndWait(const QString& text) = 0;

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
    DesktopPlatform() = default;
    ~DesktopPlatform() override;
    DesktopPlatform(const DesktopPlatform&) = delete;
    DesktopPlatform& operator=(const DesktopPlatform&) = delete;

    QDateTime now() override;
    double monotonicSeconds() override;
    MessageId showMessage(const QString& text) override;
    void closeMessage(MessageId box) override;
    void showMessageAndWait(const QString& text) override;
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
    // one opens (a box waited for lets its caller go on); then `close` runs (it closes
    // the window) and the main event loop, if it runs yet, is told to quit. Before the
    // main loop runs, endRequested() tells the start-up to go no further. Where the
    // system may end the process as soon as `close` returns (the end of the Windows
    // session, a console's close), `endsOnReturn` says so: all of the ending, down to the
    // log's last line, is then done before it returns.
    void endOnRequest(QObject* context, std::function<void(const QString& signal, bool endsOnReturn)> close);
    bool endRequested() const { return m_endRequested; }

    // Keeps other processes of the same user from reading the password out of the
    // program's memory, and the system from writing it into a core dump (Linux: not
    // dumpable, so not traceable either). Not under a debugger that started the program.
    // Whether it is in force.
    static bool keepMemoryPrivate();

private:
    struct OpenBox {
        MessageId id = 0;
        QMessageBox* box = nullptr;
    };
    // Opens a box, or finds the open one with this text; none when none may open.
    OpenBox open(const QString& text);
    std::function<void()> m_onEnd;
    QList<OpenBox> m_openBoxes; // in the order they opened
    MessageId m_lastId = 0;     // of the latest box opened
    bool m_endRequested = false;
};
