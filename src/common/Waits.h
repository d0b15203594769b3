#pragma once

#include <functional>

class Clock;

// Waits that process pending events: timer ticks, button clicks and socket data are handled
// while they wait, and the thread sleeps between events instead of spinning a core.

// Waits `ms` milliseconds of the clock's time.
void DelayMs(const Clock& clock, double ms);

// Waits until `done` returns true or `ms` milliseconds of the clock's time have passed.
// Returns whether `done` held at the end.
bool WaitUntil(const Clock& clock, double ms, const std::function<bool()>& done);

// As WaitUntil, for a wait that an instrument's answer ends (a reply): it also ends once the
// real time the clock gives a reply (Clock::realMsForReply) has passed, so that a reply that
// does not come ends it on a clock that stands still meanwhile (a dry run's).
bool WaitForReply(const Clock& clock, double ms, const std::function<bool()>& done);

// As WaitUntil, but the end is met as precisely as PreciseDelayMs meets it: events are processed
// until a moment before the end, which is then waited out without them (the pulse-load set-up,
// which Stop must be able to end).
bool WaitPrecisely(const Clock& clock, double ms, const std::function<bool()>& done);

// Waits `ms` milliseconds precisely without processing events (the pause after a serial
// command, the pulse-load set-up, ramp pacing). Returns at once for 0 or less. It sleeps for
// most of the time and spins only for the last moment, which keeps sub-millisecond precision.
void PreciseDelayMs(const Clock& clock, double ms);
