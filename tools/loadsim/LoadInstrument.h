#pragma once

#include "LoadState.h"
#include "SourceModel.h"

#include <QString>

#include <optional>
#include <random>

// The simulated load without any transport or clock: it takes one command line at a time at a
// given instant of simulated time (seconds, never going back) and says what it answers. The
// levels apply to each phase alike: CC 10 A with the load on draws 10 A from every live phase
// (30 A in all on the AC source, 10 A from the battery's phase A). The active level of a mode
// is its level A; CC level B is the low current of the pulse load.
class LoadInstrument
{
public:
    struct Outcome
    {
        bool understood = false;      // false: unknown or malformed, ignored
        std::optional<QString> reply; // the reply line, without its LF
        bool pulseStarted = false;    // "DYNC ON" began a sequence: finishPulse() is due
        bool pulseStopped = false;    // "DYNC OFF" ended one early: no result follows
    };

    explicit LoadInstrument(SourceKind kind = SourceKind::Ac, unsigned seed = 1);

    Outcome execute(const QString& line, double nowS);

    // Simulated seconds from "DYNC ON" to the result line: COUNT x (PERD:HIGH + PERD:LOW).
    double pulseSeconds() const;
    // Ends the running pulse sequence and gives its result: "OK,<volts>,<amps>", or "NG,..."
    // when the lowest voltage under the high current fell below VTH. Volts and amps are those
    // of phase A at that lowest point.
    QString finishPulse(double nowS);

    // Lets simulated time run up to nowS: the battery gives up the charge the load draws.
    void advanceTo(double nowS);
    // The three phases as the load reads them at nowS (voltage noise included).
    PhaseReadings measure(double nowS);

    const LoadState& state() const { return state_; }
    const SourceModel& source() const { return source_; }
    SourceModel& source() { return source_; }

    // The power-on settings and a fresh cell.
    void reset(double nowS);
    void setSeed(unsigned seed) { random_.seed(seed); }

private:
    struct PulseRun
    {
        double startS = 0;
        qint64 segment = 0; // high segments are even, low segments odd
        std::optional<PhaseValues> lowest;
    };

    Demand demandNow() const;
    // Whether a running sequence has segments left: COUNT cycles of two.
    bool inPulse() const;
    double segmentEnd(qint64 segment) const;
    std::optional<QString> query(const QString& command, double nowS);
    bool applySetting(const QString& command);

    LoadState state_;
    SourceModel source_;
    std::mt19937 random_;
    double lastS_ = 0;
    PulseRun run_;
};

// Reply numbers: fixed three decimals, never "-0.000".
QString replyNumber(double value);
