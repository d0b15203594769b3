#include "testprogram/ProgramWalk.h"

#include "common/NumberText.h"

#include <algorithm>
#include <cmath>

namespace {

using Kind = ProgramWalk::Kind;
using Step = ProgramWalk::Step;
using Note = ProgramWalk::Note;

// The run's own timing, in microseconds: a measurement is due this early, a dwell time is over
// this early, the timer is armed this early and at least this late, a late hand-over waits this
// long, a ramp pass allows this much for its work, a pulse sequence starts this early.
constexpr qint64 kMs = 1000;
constexpr qint64 kSecond = 1000 * kMs;
constexpr qint64 kDueTolerance = 10 * kMs;
constexpr qint64 kDwellTolerance = 50 * kMs;
constexpr qint64 kTimerLead = 3 * kMs;
constexpr qint64 kShortestRearm = 10 * kMs;
constexpr qint64 kLateHandOver = 100 * kMs;
constexpr qint64 kRampPassAllowance = 16 * kMs;
constexpr qint64 kPulseLead = 100 * kMs;
// Longer than any run (about 3000 years): the walk ends there, and times are held below it.
constexpr qint64 kForever = 100'000'000'000'000'000;
// Measuring instants this far apart are counted without a tick each.
constexpr qint64 kSteadyMeasure = 20 * kMs;
// The walk gives up after passing this many steps and ticks: loops of loops whose passes keep
// changing would otherwise keep it going for as long as the run.
constexpr qint64 kMostVisits = 2'000'000;

qint64 micros(double seconds)
{
    if (std::isnan(seconds))
        return 0;
    return std::llround(std::clamp(seconds * 1e6, -double(kForever), double(kForever)));
}

Kind kindOf(const QString& action)
{
    using namespace actions;
    static const std::pair<const QString*, Kind> kinds[] = {
        {&LoadLevel, Kind::LoadLevel}, {&RampOn, Kind::RampOn},
        {&RampOff, Kind::RampOff},     {&For, Kind::For},
        {&For2, Kind::For2},           {&Loop, Kind::Loop},
        {&Loop2, Kind::Loop2},         {&PlusLoad, Kind::PlusLoad},
        {&DisCharge, Kind::Discharge}, {&DCIRLow, Kind::Discharge},
        {&DCIRHigh, Kind::Discharge},  {&Charge, Kind::Charge},
        {&CPCharge, Kind::Charge},     {&Suspend, Kind::Suspend},
    };
    for (const auto& [name, kind] : kinds) {
        if (*name == action)
            return kind;
    }
    return Kind::Timed;
}

// Whether the run's stop evaluation can end the step before its dwell time.
bool mayStop(Kind kind, const TestStep& step)
{
    const double stopValue = parseNumber(step.StopValue);
    const double stopAh = parseNumber(step.StopAH);
    switch (kind) {
    case Kind::Charge:
        return stopValue > 0 || stopAh > 0;
    case Kind::Discharge:
        return stopAh > 0 || (stopValue > 0 && loadmodes::all().contains(step.LoadModeVolt) &&
                              step.LoadModeVolt != loadmodes::LINCC);
    case Kind::Suspend:
        return stopValue > 0;
    default:
        return false;
    }
}

// Where one loop stood at the end of a pass: when the next pass ends in the same state, every
// pass after it takes the same time and gives the same records.
struct PassState
{
    qint64 sinceInstant = 0;   // from the last measuring instant
    qint64 sinceStepStart = 0; // from the start of the running step
    bool timed = false;
    int forRow = 0;
    int for2Row = 0;
    int otherCount = 0; // the count of the other level's loop
    std::vector<double> cells;

    bool operator==(const PassState&) const = default;
};

struct PassMark
{
    bool valid = false;
    qint64 at = 0;
    qint64 records = 0;
    PassState state;
};

class Walker
{
public:
    Walker(const ProgramWalk& program, bool shortest)
        : program_(program), steps_(program.steps()), shortest_(shortest),
          count_(static_cast<int>(steps_.size())), cells_(steps_.size()), marks_(steps_.size())
    {
        for (std::size_t i = 0; i < steps_.size(); ++i)
            cells_[i] = steps_[i].count;
    }

    ProgramWalk::Result run()
    {
        preRun();
        while (!finished_ && !gaveUp_) {
            timedStep();
            if (finished_ || gaveUp_)
                break;
            advance();
        }
        ProgramWalk::Result result;
        result.micros = now_;
        result.records = records_;
        result.complete = !gaveUp_;
        for (const Note& note : notes_) {
            const bool seen =
                std::any_of(result.notes.begin(), result.notes.end(), [&](const Note& n) {
                    return n.kind == note.kind && n.step == note.step;
                });
            if (!seen)
                result.notes.push_back(note);
        }
        return result;
    }

private:
    bool spend()
    {
        gaveUp_ = ++visits_ > kMostVisits || now_ >= kForever;
        return !gaveUp_;
    }

    Kind kindAt(int index) const
    {
        return index >= 0 && index < count_ ? steps_[static_cast<std::size_t>(index)].kind
                                            : Kind::Timed;
    }
    double& cell(int row) { return cells_[static_cast<std::size_t>(row - 1)]; }

    void note(Note::Kind kind) { notes_.push_back({kind, current_}); }

    // Start's pre-run phase, up to the first step the run timer carries.
    void preRun()
    {
        for (;;) {
            if (!spend())
                return;
            if (current_ >= count_) {
                finished_ = true;
                return;
            }
            stepStart_ = measureRef_ = now_;
            const Step& step = steps_[static_cast<std::size_t>(current_)];
            switch (step.kind) {
            case Kind::For:
            case Kind::For2:
                ++current_;
                enterLoop(step.kind, current_);
                continue;
            case Kind::Loop:
            case Kind::Loop2:
                if (!endLoopPass(step.kind))
                    ++current_;
                continue;
            case Kind::RampOn:
            case Kind::RampOff:
                if (!rampOrHold(step)) {
                    finished_ = true; // the run ends on an error there
                    return;
                }
                ++current_;
                continue;
            case Kind::LoadLevel:
                ++records_;
                if (step.dwell == 0) {
                    ++current_;
                    continue;
                }
                handOver();
                return;
            default:
                // Started on the load as the timer starts every later step.
                timed_ = true;
                if (startTimed(step))
                    advance();
                return;
            }
        }
    }

    bool rampOrHold(const Step& step)
    {
        if (step.dwell == 0) {
            ++records_;
            return true;
        }
        if (step.measure <= 0)
            return false;
        const double passes = std::trunc(step.dwell) / step.measure;
        const qint64 done =
            passes >= 1 ? static_cast<qint64>(std::min(std::floor(passes), 1e12)) : 0;
        // Each pass measures, records and waits out the rest of its measure time; with a load
        // that answers at once the passes never run out of the ramp's time.
        const qint64 wait = std::max<qint64>(micros(step.measure) - kRampPassAllowance, 0);
        records_ += done;
        now_ =
            std::min(now_ + done * std::min(wait, kForever / std::max<qint64>(done, 1)), kForever);
        return true;
    }

    qint64 secondsLeft(qint64 at) const
    {
        const Step& step = steps_[static_cast<std::size_t>(current_)];
        return step.dwell > 0 ? micros(step.dwell) - (at - stepStart_) : kForever;
    }

    qint64 reArm(qint64 at) const
    {
        const qint64 measure = micros(steps_[static_cast<std::size_t>(current_)].measure);
        const qint64 r = std::min(measure - (at - measureRef_), secondsLeft(at));
        if (r <= measure && r > kDueTolerance)
            return at + std::llround(double(r) / kMs - double(kTimerLead) / kMs) * kMs;
        return at + kShortestRearm;
    }

    void handOver()
    {
        const qint64 measure = micros(steps_[static_cast<std::size_t>(current_)].measure);
        const qint64 remaining = std::min(measure - (now_ - stepStart_), secondsLeft(now_));
        nextTick_ = now_ + (remaining > kTimerLead ? remaining - kTimerLead : kLateHandOver);
        timed_ = true;
    }

    // The run timer's ticks of one step, from nextTick_ to the step's end.
    void timedStep()
    {
        const Step& step = steps_[static_cast<std::size_t>(current_)];
        const qint64 measure = micros(step.measure);
        const qint64 dwell = step.dwell > 0 ? micros(step.dwell) : 0;
        qint64 tick = nextTick_;
        for (;;) {
            if (!spend())
                return;
            now_ = tick;
            const qint64 elapsed = tick - measureRef_;
            const bool due = measure - kDueTolerance <= elapsed;
            if (!due && secondsLeft(tick) > kDwellTolerance) {
                tick = reArm(now_);
                continue;
            }
            stopReason_ = 0;
            if (due) {
                if (elapsed < measure)
                    now_ = measureRef_ + measure;
                ++records_;
                measureRef_ += measure;
                // Instants missed meanwhile are skipped, not caught up.
                if (measure > 0 && tick - measureRef_ >= measure)
                    measureRef_ += measure * ((tick - measureRef_) / measure);
                if (shortest_ && step.mayStop)
                    stopReason_ = 2;
            }
            if (now_ - stepStart_ + kDwellTolerance < dwell && stopReason_ == 0) {
                steadyInstants(measure, dwell);
                tick = reArm(now_);
                continue;
            }
            break;
        }
        stopReason_ = 1;
        stepStart_ = now_;
    }

    // Measuring instants well inside the dwell time, one measure time apart, each recorded and
    // none ending the step: counted at once.
    void steadyInstants(qint64 measure, qint64 dwell)
    {
        if (now_ != measureRef_ || measure < kSteadyMeasure)
            return;
        const qint64 beyond = dwell - (now_ - stepStart_) - measure - kDwellTolerance;
        if (beyond <= 0)
            return;
        const qint64 instants = (beyond + measure - 1) / measure;
        now_ += instants * measure;
        measureRef_ = now_;
        records_ += instants;
    }

    // The step sequencer's advance: loop markers and pulse loads on the spot, up to the next
    // step the timer carries.
    void advance()
    {
        for (;;) {
            if (!spend())
                return;
            if (stopReason_ != 0 && stopReason_ != 1)
                followGoTo();
            else
                ++current_;
            stopReason_ = 0;
            if (current_ >= count_) {
                finished_ = true;
                return;
            }
            const Step& step = steps_[static_cast<std::size_t>(current_)];
            switch (step.kind) {
            case Kind::For:
            case Kind::For2:
                enterLoop(step.kind, current_ + 1);
                continue;
            case Kind::Loop:
            case Kind::Loop2:
                endLoopPass(step.kind);
                continue;
            default:
                if (startTimed(step))
                    continue;
                return;
            }
        }
    }

    // A step that the run timer carries, started as the timer starts it: a pulse load runs its
    // sequence at once and the run goes on (true); any other step is armed for its first
    // measuring instant (a discharge after its settling time).
    bool startTimed(const Step& step)
    {
        if (step.kind == Kind::PlusLoad) {
            now_ += std::max<qint64>(micros(step.measure / 1000.0) - kPulseLead, 0);
            now_ += micros(step.pulseMs / 1000.0);
            ++records_;
            const bool ng = shortest_ && !program_.ngRepeats(current_) &&
                            program_.goToIndex(current_) > current_ + 1;
            stopReason_ = ng ? 2 : 1;
            measureRef_ += now_ - stepStart_;
            stepStart_ = now_;
            return true;
        }
        if (step.kind == Kind::Discharge && step.stable > 0)
            now_ += micros(step.stable);
        else if (step.kind == Kind::RampOn || step.kind == Kind::RampOff)
            note(Note::Kind::RampOnTimer);
        nextTick_ = reArm(now_);
        return false;
    }

    void followGoTo()
    {
        const Step& step = steps_[static_cast<std::size_t>(current_)];
        const int next = program_.goToIndex(current_);
        if (next == current_)
            return; // the same step again
        const bool endLoop =
            step.goTo == QLatin1String("ENDLOOP") || step.goTo == QLatin1String("ENDLOOP2");
        const bool numeric = !endLoop && step.goTo != QLatin1String("NEXTSTEP") &&
                             step.goTo != QLatin1String("CONTINUE");
        if (endLoop) {
            restoreCount(for2Row_, for2Count_);
            if (step.goTo == QLatin1String("ENDLOOP"))
                restoreCount(forRow_, forCount_);
        } else if (numeric) {
            // The loop cells of the steps jumped over are kept consistent.
            for (int i = current_; i <= next && i < count_; ++i) {
                const Kind kind = kindAt(i);
                if (kind == Kind::Loop)
                    restoreCount(forRow_, forCount_);
                else if (kind == Kind::Loop2)
                    restoreCount(for2Row_, for2Count_);
                else if (kind == Kind::For && forRow_ > 0)
                    forCount_ = truncToInt(cell(forRow_));
                else if (kind == Kind::For2 && for2Row_ > 0)
                    for2Count_ = truncToInt(cell(for2Row_));
            }
        }
        current_ = next;
    }

    void restoreCount(int row, int count)
    {
        if (row > 0)
            cell(row) = count;
    }

    void enterLoop(Kind kind, int forRow)
    {
        const int count = truncToInt(cell(forRow));
        if (kind == Kind::For) {
            forRow_ = forRow;
            forCount_ = count;
        } else {
            for2Row_ = forRow;
            for2Count_ = count;
        }
    }

    // A LOOP or LOOP2: counts the pass in its FOR row's cell; another pass makes the FOR step
    // current (true), the loop's end shows the count again.
    bool endLoopPass(Kind kind)
    {
        const bool outer = kind == Kind::Loop;
        const int row = outer ? forRow_ : for2Row_;
        if (row <= 0)
            return false; // a loop end without its FOR has no cell to count in
        const double n = cell(row);
        cell(row) = n - 1;
        if (n > 1) {
            current_ = row - 1;
            skipLikePasses(row, outer, n);
            return true;
        }
        cell(row) = outer ? forCount_ : for2Count_;
        marks_[static_cast<std::size_t>(row - 1)] = PassMark{};
        return false;
    }

    // When a pass of the loop on `row` ended as the pass before it did, the passes still to come
    // are alike: all but the last are counted at once.
    void skipLikePasses(int row, bool outer, double n)
    {
        PassState state;
        state.sinceInstant = now_ - measureRef_;
        state.sinceStepStart = now_ - stepStart_;
        state.timed = timed_;
        state.forRow = forRow_;
        state.for2Row = for2Row_;
        state.otherCount = outer ? for2Count_ : forCount_;
        state.cells = cells_;
        state.cells[static_cast<std::size_t>(row - 1)] = 0;
        PassMark& mark = marks_[static_cast<std::size_t>(row - 1)];
        if (!mark.valid || !(mark.state == state)) {
            mark = {true, now_, records_, std::move(state)};
            return;
        }
        // Passes to come: this one and one for each later count above 1.
        const double toCome = std::ceil(n - 1);
        const qint64 skipped = static_cast<qint64>(std::min(toCome - 1, 1e12));
        if (skipped < 1)
            return;
        const qint64 took = now_ - mark.at;
        const qint64 gave = records_ - mark.records;
        const double shift = std::min(double(skipped) * double(took), double(kForever));
        now_ += qint64(shift);
        measureRef_ += qint64(shift);
        stepStart_ += qint64(shift);
        records_ += qint64(std::min(double(skipped) * double(gave), double(kForever)));
        cell(row) = n - 1 - double(skipped);
        mark = PassMark{};
    }

    const ProgramWalk& program_;
    const std::vector<Step>& steps_;
    const bool shortest_;
    const int count_;

    // The run state, as the run keeps it.
    int current_ = 0;
    qint64 now_ = 0;
    qint64 measureRef_ = 0;
    qint64 stepStart_ = 0;
    qint64 nextTick_ = 0;
    int forRow_ = 0;
    int forCount_ = 0;
    int for2Row_ = 0;
    int for2Count_ = 0;
    int stopReason_ = 0;
    std::vector<double> cells_; // the Loop Times cells
    bool timed_ = false;

    qint64 records_ = 0;
    qint64 visits_ = 0;
    bool finished_ = false;
    bool gaveUp_ = false;
    std::vector<Note> notes_;
    std::vector<PassMark> marks_;
};

} // namespace

ProgramWalk::ProgramWalk(const std::vector<TestStep>& steps)
{
    steps_.reserve(steps.size());
    for (const TestStep& t : steps) {
        Step s;
        s.kind = kindOf(t.ActionMode);
        s.dwell = parseNumber(t.StopTime);
        s.measure = parseNumber(t.MeasTime);
        s.stable = parseNumber(t.StableTime);
        s.count = parseNumber(t.StopValue);
        s.mayStop = mayStop(s.kind, t);
        if (s.kind == Kind::PlusLoad)
            s.pulseMs =
                std::max(roundToInt(parseNumber(t.StopAH)), 0) *
                (std::max(parseNumber(t.StopTime), 0.0) + std::max(parseNumber(t.StopValue), 0.0));
        s.goTo = t.GoToStep.toUpper();
        steps_.push_back(s);
    }
}

int ProgramWalk::nextLoopEnd(int index, bool outer, bool inner) const
{
    for (int i = index + 1; i < static_cast<int>(steps_.size()); ++i) {
        const Kind kind = steps_[static_cast<std::size_t>(i)].kind;
        if ((outer && kind == Kind::Loop) || (inner && kind == Kind::Loop2))
            return i;
    }
    return -1;
}

int ProgramWalk::goToIndex(int index) const
{
    const QString& target = steps_[static_cast<std::size_t>(index)].goTo;
    if (target == QLatin1String("NEXTSTEP"))
        return index + 1;
    if (target == QLatin1String("ENDLOOP") || target == QLatin1String("ENDLOOP2")) {
        const int end = nextLoopEnd(index, target == QLatin1String("ENDLOOP"),
                                    target == QLatin1String("ENDLOOP2"));
        return end < 0 ? index : end + 1;
    }
    if (target == QLatin1String("CONTINUE")) {
        const int end = nextLoopEnd(index, true, true);
        return end < 0 ? index : end;
    }
    const double g = parseNumber(target);
    if (g <= 0)
        return index;
    // A target beyond the program ends it.
    return static_cast<int>(std::min(g, double(steps_.size()) + 1)) - 1;
}

bool ProgramWalk::ngRepeats(int index) const
{
    const int next = goToIndex(index);
    if (next <= index)
        return true;
    const QString& target = steps_[static_cast<std::size_t>(index)].goTo;
    const bool numeric = !gotochoices::all().contains(target, Qt::CaseInsensitive);
    const Kind landsOn =
        next < static_cast<int>(steps_.size()) ? steps_[std::size_t(next)].kind : Kind::Timed;
    return numeric && (landsOn == Kind::Loop || landsOn == Kind::Loop2);
}

ProgramWalk::Result ProgramWalk::walk(bool shortest) const
{
    return Walker(*this, shortest).run();
}
