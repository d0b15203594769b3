#include "common/Waits.h"

#include "common/Clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace {
// A clock that stands still (FakeClock with speed 0) is looked at again after this long.
constexpr double kLongestSleepMs = 50.0;
// PreciseDelayMs spins for this last part of a wait; sleeping is not precise enough there.
constexpr double kSpinMs = 1.5;
// WaitPrecisely stops processing events this long before its end: an event handled there could
// make it late.
constexpr double kLastEventMs = 2.0;

using RealMs = double (Clock::*)(double) const;

bool waitFor(const Clock& clock, double ms, const std::function<bool()>& done, RealMs realMs,
             double realBoundMs = std::numeric_limits<double>::infinity())
{
    const double end = clock.monotonicMs() + ms;
    QElapsedTimer real;
    real.start();
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    // The timer only has to wake the event dispatcher; its timeout needs no handler.
    QObject::connect(&wake, &QTimer::timeout, &wake, [] {});
    for (;;) {
        if (done && done())
            return true;
        const double left = end - clock.monotonicMs();
        const double realLeft = realBoundMs - real.nsecsElapsed() / 1e6;
        if (left <= 0 || realLeft <= 0)
            return false;
        const double sleep = std::min({(clock.*realMs)(left), realLeft, kLongestSleepMs});
        wake.start(static_cast<int>(std::ceil(std::max(sleep, 0.0))));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

} // namespace

bool WaitUntil(const Clock& clock, double ms, const std::function<bool()>& done)
{
    return waitFor(clock, ms, done, &Clock::realMsFor);
}

bool WaitForReply(const Clock& clock, double ms, const std::function<bool()>& done)
{
    return waitFor(clock, ms, done, &Clock::realMsForReply, clock.realMsForReply(ms));
}

void DelayMs(const Clock& clock, double ms)
{
    WaitUntil(clock, ms, {});
}

bool WaitPrecisely(const Clock& clock, double ms, const std::function<bool()>& done)
{
    const double end = clock.monotonicMs() + ms;
    if (WaitUntil(clock, ms - kLastEventMs, done))
        return true;
    PreciseDelayMs(clock, end - clock.monotonicMs());
    return done && done();
}

void PreciseDelayMs(const Clock& clock, double ms)
{
    if (ms <= 0)
        return;
    const double end = clock.monotonicMs() + ms;
    for (;;) {
        const double left = end - clock.monotonicMs();
        if (left <= 0)
            return;
        const double real = std::min(clock.realMsFor(left), kLongestSleepMs);
        if (real > kSpinMs) {
            const auto sleep = std::chrono::duration<double, std::milli>(real - kSpinMs);
            std::this_thread::sleep_for(sleep);
        }
    }
}
