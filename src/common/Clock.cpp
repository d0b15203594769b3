#include "common/Clock.h"

#include <cmath>
#include <limits>

namespace {
constexpr double kSecondsPerDay = 86400.0;
const QString kDateTimePattern = QStringLiteral("yyyy/MM/dd hh:mm:ss");
} // namespace

double Clock::secondsSinceMidnight() const
{
    const QTime t = now().time();
    const double s = t.msecsSinceStartOfDay() / 1000.0;
    return s >= kSecondsPerDay ? s - kSecondsPerDay : s;
}

SystemClock::SystemClock()
{
    elapsed_.start();
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

double SystemClock::monotonicMs() const
{
    return elapsed_.nsecsElapsed() / 1e6;
}

FakeClock::FakeClock(const QDateTime& start, double speed) : base_(start), speed_(speed)
{
    real_.start();
}

double FakeClock::runMs() const
{
    return real_.nsecsElapsed() / 1e6 * speed_;
}

void FakeClock::rebase()
{
    const double run = runMs();
    base_ = base_.addMSecs(static_cast<qint64>(run));
    baseMonotonicMs_ += run;
    real_.restart();
}

QDateTime FakeClock::now() const
{
    return base_.addMSecs(static_cast<qint64>(runMs()));
}

double FakeClock::monotonicMs() const
{
    return baseMonotonicMs_ + runMs();
}

double FakeClock::realMsFor(double clockMs) const
{
    if (speed_ <= 0)
        return std::numeric_limits<double>::infinity();
    return clockMs / speed_;
}

void FakeClock::setNow(const QDateTime& instant)
{
    rebase();
    base_ = instant;
}

void FakeClock::advance(double seconds)
{
    rebase();
    const double ms = seconds * 1000.0;
    base_ = base_.addMSecs(static_cast<qint64>(ms));
    baseMonotonicMs_ += ms;
}

void FakeClock::setSpeed(double speed)
{
    rebase();
    speed_ = speed;
}

AcceleratedClock::AcceleratedClock(const QDateTime& start) : start_(start) {}

QDateTime AcceleratedClock::now() const
{
    return start_.addMSecs(static_cast<qint64>(monotonicMs()));
}

double AcceleratedClock::realMsFor(double clockMs) const
{
    if (clockMs > 0 && std::isfinite(clockMs))
        skippedMs_.fetch_add(clockMs);
    return 0;
}

QString dateTimeText(const QDateTime& instant)
{
    return instant.toString(kDateTimePattern);
}

QString timeOfDayText(const QDateTime& instant)
{
    return instant.toString(QStringLiteral("hh:mm:ss"));
}

QDateTime parseDateTimeText(const QString& text)
{
    return QDateTime::fromString(text, kDateTimePattern);
}
