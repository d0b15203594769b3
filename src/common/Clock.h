#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <atomic>

// The one source of time for the station: the time of day that the run works in (seconds since
// midnight, wrapped at 86400), the date and time texts it shows and logs, and a monotonic
// counter for waits and pacing. Tests use FakeClock to start at any instant (just before
// midnight, 100 hours into a run) and to run faster than real time.
class Clock
{
public:
    virtual ~Clock() = default;

    // Local date and time of day.
    virtual QDateTime now() const = 0;
    // Milliseconds since an arbitrary origin; never goes back.
    virtual double monotonicMs() const = 0;
    // Real milliseconds that pass while this clock advances by clockMs: a timer or a sleep that
    // waits for the clock's time alone is armed for this long.
    virtual double realMsFor(double clockMs) const { return clockMs; }
    // The same for a wait that ends when an instrument answers, at the latest after clockMs (a
    // reply, a connection): the answer comes in real time whatever the clock does.
    virtual double realMsForReply(double clockMs) const { return realMsFor(clockMs); }

    // Seconds since midnight with the millisecond fraction, as the run's time of day.
    double secondsSinceMidnight() const;
};

class SystemClock final : public Clock
{
public:
    SystemClock();
    QDateTime now() const override;
    double monotonicMs() const override;

private:
    QElapsedTimer elapsed_;
};

// A clock that starts at a chosen instant and then runs at `speed` times real time (speed 0
// stands still). advance() jumps forward, setNow() puts the time of day anywhere.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(const QDateTime& start = QDateTime(QDate(2026, 1, 5), QTime(8, 0)),
                       double speed = 1.0);

    QDateTime now() const override;
    double monotonicMs() const override;
    double realMsFor(double clockMs) const override;

    void setNow(const QDateTime& instant);
    void advance(double seconds);
    void setSpeed(double speed);
    double speed() const { return speed_; }

private:
    double runMs() const;
    void rebase();

    QDateTime base_;
    double baseMonotonicMs_ = 0;
    QElapsedTimer real_;
    double speed_;
};

// A dry run's clock: time passes only when the station waits for it. A wait for the clock's
// time alone (the run timer, settling times, ramp passes, a pulse's set-up, and the pulse sequence
// of a simulated load that follows this clock) skips its time at once, so that hours of a program
// take moments and every wait ends exactly on time, however busy the machine; replies, writing
// the log and all other work take none of it. A wait for a reply still ends in real time
// (realMsForReply), since a reply that does not come makes no time pass. Waits for the clock's
// time must not overlap: each skips its time when it begins.
class AcceleratedClock final : public Clock
{
public:
    explicit AcceleratedClock(const QDateTime& start = QDateTime::currentDateTime());

    QDateTime now() const override;
    double monotonicMs() const override { return skippedMs_.load(); }
    double realMsFor(double clockMs) const override;
    double realMsForReply(double clockMs) const override { return clockMs; }

private:
    QDateTime start_;
    mutable std::atomic<double> skippedMs_{0};
};

// "2026/12/06 14:03:09": TimeText, the run's start and step start texts.
QString dateTimeText(const QDateTime& instant);
// "14:03:09": the StepTime field of a record.
QString timeOfDayText(const QDateTime& instant);
// Parses dateTimeText() back; invalid for anything else.
QDateTime parseDateTimeText(const QString& text);
