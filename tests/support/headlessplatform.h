#pragma once
// The desktop platform (real boxes, real waits) in a program folder of the test's and on
// a clock the test moves.

#include "window/app/platform.h"

#include "fakeplatform.h"

#include <QStringList>

class HeadlessPlatform final : public Platform {
public:
    QDateTime now() override { return testDateTime(seconds); }
    double monotonicSeconds() override { return seconds; }
    MessageId showMessage(const QString& text) override
    {
        shown << text;
        return desktop.showMessage(text);
    }
    void closeMessage(MessageId box) override { desktop.closeMessage(box); }
    void showMessageAndWait(const QString& text) override
    {
        shown << text;
        desktop.showMessageAndWait(text);
    }
    bool askYesNo(const QString& text, bool yesByDefault) override { return desktop.askYesNo(text, yesByDefault); }
    void endProcess() override { ++endCalls; }
    QString applicationFolder() override { return folder; }
    // On the desktop's timers, as far ahead of now as `at` is of the test's clock.
    void callAt(double at, QObject* context, std::function<void()> then) override
    {
        desktop.callAt(desktop.monotonicSeconds() + (at - seconds), context, std::move(then));
    }

    DesktopPlatform desktop;
    StillWallClock stillTimers;
    double seconds = 0;
    QString folder;
    QStringList shown;
    int endCalls = 0;
};
