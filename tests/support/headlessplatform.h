#pragma once
// The desktop platform (real boxes, real waits) in a program folder of the test's and on
// a clock the test moves.

#include "window/app/platform.h"

#include "fakeplatform.h"

#include <QStringList>

#include <cmath>

class HeadlessPlatform final : public Platform {
public:
    QTime timeOfDay() override
    {
        return QTime::fromMSecsSinceStartOfDay(static_cast<int>(std::llround(std::fmod(seconds, 86400.0) * 1000)) %
                                               86400000);
    }
    double monotonicSeconds() override { return seconds; }
    void showMessage(const QString& text) override
    {
        shown << text;
        desktop.showMessage(text);
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
