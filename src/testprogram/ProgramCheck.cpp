#include "testprogram/ProgramCheck.h"

#include "common/NumberText.h"
#include "testprogram/ProgramWalk.h"
#include "testprogram/StepValues.h"
#include "testprogram/TestProgramFile.h"

#include <QLocale>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

using Severity = ProgramFinding::Severity;
using Kind = ProgramWalk::Kind;
using namespace stepcolumns;

// A refusal lists this many errors and counts the rest.
constexpr int kListedErrors = 10;
// A discharge this long that nothing can end early deserves a second look.
constexpr double kLongUnguardedDischargeS = 300;
// The run times a step by the time of day, which starts again at midnight: a step must end
// before its time of day comes round again.
constexpr double kLongestStepS = 86400 - 0.05;

bool isLevelAction(const QString& action)
{
    using namespace actions;
    return oneOf(action, {&LoadLevel, &DisCharge, &DCIRLow, &DCIRHigh, &RampOn, &RampOff});
}

// Cells the run reads as numbers besides those the load gets: the dwell time, a loop count, stop
// values and charges, a settling time, the measure time (a pulse load's set-up time).
bool runReads(const TestStep& step, int column, Kind kind)
{
    switch (column) {
    case Dwell:
        return stepvalues::measures(step.ActionMode);
    case Loop:
        return kind == Kind::For || kind == Kind::For2 || kind == Kind::Charge ||
               kind == Kind::Discharge || kind == Kind::Suspend;
    case 6: // StableTime
        return kind == Kind::Discharge;
    case StopAH:
        return kind == Kind::Charge || kind == Kind::Discharge;
    case Meas:
        return kind != Kind::For && kind != Kind::For2 && kind != Kind::Loop && kind != Kind::Loop2;
    default:
        return false;
    }
}

QString seconds(double value)
{
    return formatGeneral(value) + QStringLiteral(" s");
}

class Checker
{
public:
    explicit Checker(const std::vector<TestStep>& steps)
        : steps_(steps), walk_(steps), enclosingFor_(steps.size(), -1),
          enclosingFor2_(steps.size(), -1)
    {}

    ProgramCheck run()
    {
        const int count = static_cast<int>(steps_.size());
        if (count == 0)
            add(Severity::Error, 0, 0, QStringLiteral("Please setup test step, then press START."));
        if (count > kMaxProgramSteps)
            add(Severity::Error, 0, 0,
                QStringLiteral("The program has %1 steps; a program has at most %2.")
                    .arg(count)
                    .arg(kMaxProgramSteps));
        loops();
        for (int i = 0; i < count; ++i) {
            const TestStep& step = steps_[static_cast<std::size_t>(i)];
            if (!actions::all().contains(step.ActionMode)) {
                add(Severity::Error, i + 1, Action,
                    QStringLiteral("not one of the %1 actions").arg(actions::all().size()));
                continue;
            }
            cells(i);
            goTo(i);
            ramp(i);
            measureAndDwell(i);
        }

        ProgramCheck check;
        const ProgramWalk::Result full = walk_.full();
        const ProgramWalk::Result shortest = walk_.shortest();
        notes(full.notes);
        notes(shortest.notes);
        RunEstimate& e = check.estimate;
        e.fullSeconds = double(full.micros) / 1e6;
        e.shortestSeconds = double(std::min(shortest.micros, full.micros)) / 1e6;
        e.records = full.records;
        e.endless = endless_;
        e.complete = full.complete && shortest.complete;

        std::stable_sort(
            findings_.begin(), findings_.end(),
            [](const ProgramFinding& a, const ProgramFinding& b) { return a.step < b.step; });
        check.findings = findings_;
        return check;
    }

private:
    const TestStep& at(int index) const { return steps_[static_cast<std::size_t>(index)]; }
    Kind kindAt(int index) const { return walk_.steps()[static_cast<std::size_t>(index)].kind; }

    void add(Severity severity, int step, int column, const QString& problem)
    {
        QString sentence;
        if (step == 0)
            sentence = problem;
        else if (column == 0)
            sentence = QStringLiteral("Step %1: %2").arg(step).arg(problem);
        else
            sentence =
                QStringLiteral("Step %1, %2 \"%3\": %4")
                    .arg(step)
                    .arg(kStepGridHeaders[static_cast<std::size_t>(column)],
                         steps_[static_cast<std::size_t>(step - 1)].field(column - 1), problem);
        findings_.append({severity, step, column, sentence});
    }

    // FOR and LOOP, FOR2 and LOOP2 pair up as brackets that nest: the run keeps one open loop
    // of each level, and a LOOP counts in the FOR it last passed.
    void loops()
    {
        struct Open
        {
            Kind kind;
            int index;
        };
        std::vector<Open> open;
        int openFor = -1;
        int openFor2 = -1;
        for (int i = 0; i < static_cast<int>(steps_.size()); ++i) {
            enclosingFor_[static_cast<std::size_t>(i)] = openFor;
            enclosingFor2_[static_cast<std::size_t>(i)] = openFor2;
            const Kind kind = kindAt(i);
            const bool opener = kind == Kind::For || kind == Kind::For2;
            const bool closer = kind == Kind::Loop || kind == Kind::Loop2;
            if (!opener && !closer)
                continue;
            const bool outer = kind == Kind::For || kind == Kind::Loop;
            int& openHere = outer ? openFor : openFor2;
            const Kind forKind = outer ? Kind::For : Kind::For2;
            const QString forName = outer ? actions::For : actions::For2;
            if (opener) {
                if (openHere >= 0) {
                    add(Severity::Error, i + 1, Action,
                        QStringLiteral("inside the %1 of step %2, which has no %3 yet: the run "
                                       "keeps one %1 loop at a time")
                            .arg(forName)
                            .arg(openHere + 1)
                            .arg(outer ? actions::Loop : actions::Loop2));
                    continue;
                }
                openHere = i;
                open.push_back({kind, i});
                continue;
            }
            if (openHere < 0) {
                add(Severity::Error, i + 1, Action,
                    QStringLiteral("no %1 before it opens a loop for it to end").arg(forName));
                continue;
            }
            if (open.back().kind != forKind)
                add(Severity::Error, i + 1, Action,
                    QStringLiteral("ends the %1 of step %2 while the %3 of step %4 is still "
                                   "open: the loops cross")
                        .arg(forName)
                        .arg(openHere + 1)
                        .arg(outer ? actions::For2 : actions::For)
                        .arg(open.back().index + 1));
            const int closed = openHere;
            std::erase_if(open, [&](const Open& o) { return o.index == closed; });
            openHere = -1;
        }
        for (const Open& o : open)
            add(Severity::Error, o.index + 1, Action,
                QStringLiteral("has no %1 after it")
                    .arg(o.kind == Kind::For ? actions::Loop : actions::Loop2));
    }

    // Numbers and ranges, cell by cell: what the load gets must be right; what only the run
    // reads is worth a warning, but for the measure time of a step that measures.
    void cells(int i)
    {
        const TestStep& step = at(i);
        const Kind kind = kindAt(i);
        const QList<stepvalues::Fault> faults = stepvalues::rangeFaults(step);
        for (int column = Mode; column <= Frequency; ++column) {
            const QString& text = step.field(column - 1);
            const bool load = stepvalues::reachesLoad(step, column);
            const bool measureTime = column == Meas && stepvalues::measures(step.ActionMode);
            if (stepvalues::holdsNumber(step.ActionMode, column) && !isNumberText(text)) {
                if (load || measureTime)
                    add(Severity::Error, i + 1, column, QStringLiteral("not a number"));
                else if (runReads(step, column, kind))
                    add(Severity::Warning, i + 1, column,
                        QStringLiteral("not a number: the run takes it as %1")
                            .arg(formatGeneral(parseNumber(text))));
                continue;
            }
            for (const stepvalues::Fault& fault : faults) {
                if (fault.column != column)
                    continue;
                const bool error = load || (measureTime && parseNumber(text) < 0.1);
                add(error ? Severity::Error : Severity::Warning, i + 1, column, fault.message);
            }
        }
    }

    void goTo(int i)
    {
        const TestStep& step = at(i);
        const QString target = step.GoToStep.toUpper();
        if (kindAt(i) != Kind::PlusLoad) {
            if (!step.GoToStep.isEmpty() && target != QLatin1String("NEXTSTEP"))
                add(Severity::Warning, i + 1, GoTo,
                    QStringLiteral("never followed: the run follows a go-to only after a "
                                   "pulse load's \"NG\"; this step goes on with the next"));
            return;
        }
        const bool choice = gotochoices::all().contains(step.GoToStep, Qt::CaseInsensitive);
        const bool numeric = isWholeNumberText(step.GoToStep);
        const int count = static_cast<int>(steps_.size());
        if (!choice && !numeric && !step.GoToStep.trimmed().isEmpty()) {
            add(Severity::Error, i + 1, GoTo,
                QStringLiteral("neither a step number nor one of %1")
                    .arg(gotochoices::all().join(QStringLiteral(", "))));
            return;
        }
        if (numeric && parseNumber(step.GoToStep) > count + 1) {
            add(Severity::Error, i + 1, GoTo,
                QStringLiteral("beyond the program's %1 steps (%2 ends the program)")
                    .arg(count)
                    .arg(count + 1));
            return;
        }
        const int next = walk_.goToIndex(i);
        endless_ = endless_ || walk_.ngRepeats(i);
        if (next == i) {
            add(Severity::Warning, i + 1, GoTo,
                QStringLiteral("an \"NG\" starts this step again: while the pulse load fails, "
                               "it repeats without end"));
        } else if (next < i) {
            add(Severity::Warning, i + 1, GoTo,
                QStringLiteral("an \"NG\" goes back to step %1: while the pulse load fails, "
                               "steps %1 to %2 repeat without end")
                    .arg(next + 1)
                    .arg(i + 1));
        } else if (walk_.ngRepeats(i)) {
            add(Severity::Warning, i + 1, GoTo,
                QStringLiteral("an \"NG\" lands on the %1 of step %2, which sets its loop's "
                               "count back to the start: while the pulse load fails, the loop "
                               "repeats without end (Continue counts the pass instead)")
                    .arg(at(next).ActionMode)
                    .arg(next + 1));
        } else if (!choice || target == QLatin1String("NEXTSTEP")) {
            return;
        } else if (const int loop = enclosingLoop(i, target); loop < 0) {
            add(Severity::Warning, i + 1, GoTo,
                QStringLiteral("this step is in no %1 loop: an \"NG\" jumps on to step %2")
                    .arg(target == QLatin1String("ENDLOOP2")  ? actions::For2
                         : target == QLatin1String("ENDLOOP") ? actions::For
                                                              : QStringLiteral("FOR or FOR2"))
                    .arg(next + 1));
        }
    }

    // The FOR (or FOR2) loop that a go-to choice leaves or continues; -1 when there is none.
    int enclosingLoop(int i, const QString& target) const
    {
        const int outer = enclosingFor_[static_cast<std::size_t>(i)];
        const int inner = enclosingFor2_[static_cast<std::size_t>(i)];
        if (target == QLatin1String("ENDLOOP"))
            return outer;
        if (target == QLatin1String("ENDLOOP2"))
            return inner;
        return std::max(outer, inner);
    }

    // A ramp or hold runs in passes of its measure time over the whole seconds of its time.
    void ramp(int i)
    {
        const TestStep& step = at(i);
        const Kind kind = kindAt(i);
        if (kind != Kind::RampOn && kind != Kind::RampOff)
            return;
        const double time = parseNumber(step.StopTime);
        const double measure = parseNumber(step.MeasTime);
        if (time == 0 || measure < 0.1)
            return;
        const bool rampOn = kind == Kind::RampOn;
        const double passes = std::trunc(time) / measure;
        const QString what = rampOn ? QStringLiteral("ramp") : QStringLiteral("hold");
        if (passes < 1) {
            add(Severity::Error, i + 1, Meas,
                QStringLiteral("does not fit the %1's %2: the run makes no pass and does not %1")
                    .arg(what, seconds(time)));
            return;
        }
        const double previous = i > 0 ? parseNumber(at(i - 1).CurrentValue) : 0.0;
        if (std::floor(passes) != passes || std::trunc(time) != time) {
            const double done = std::floor(passes);
            const double value = parseNumber(step.CurrentValue);
            QString end = QStringLiteral("%1 passes of %2 (%3)")
                              .arg(formatGeneral(done), seconds(measure), seconds(done * measure));
            if (rampOn)
                end += QStringLiteral(" and ends at %1, not %2")
                           .arg(formatGeneral(previous + done * (value - previous) / passes),
                                formatGeneral(value));
            add(Severity::Error, i + 1, Meas,
                QStringLiteral("does not fit the %1's %2: the run makes %3")
                    .arg(what, seconds(time), end));
        }
        if (!rampOn || i == 0)
            return;
        const TestStep& before = at(i - 1);
        if (isLevelAction(before.ActionMode) && before.LoadModeVolt == step.LoadModeVolt)
            return;
        QString source = before.ActionMode;
        if (isLevelAction(before.ActionMode))
            source += QLatin1Char(' ') + before.LoadModeVolt;
        add(Severity::Warning, i + 1, Mode,
            QStringLiteral("ramps from %1, the value of step %2 (%3), which is no level in %4")
                .arg(formatGeneral(previous))
                .arg(i)
                .arg(source, step.LoadModeVolt));
    }

    void measureAndDwell(int i)
    {
        const TestStep& step = at(i);
        const Kind kind = kindAt(i);
        const double dwell = parseNumber(step.StopTime);
        const double measure = parseNumber(step.MeasTime);
        if (stepvalues::measures(step.ActionMode) && kind != Kind::RampOn &&
            kind != Kind::RampOff && dwell > 0 && measure >= 0.1 && measure > dwell)
            add(Severity::Warning, i + 1, Meas,
                QStringLiteral("longer than the step's dwell time of %1: the step may end before "
                               "it is measured")
                    .arg(seconds(dwell)));
        if (stepvalues::measures(step.ActionMode) && kind != Kind::RampOn &&
            kind != Kind::RampOff && dwell >= kLongestStepS)
            add(Severity::Error, i + 1, Dwell,
                QStringLiteral("a day or more: the run times a step by the time of day, which "
                               "starts again at midnight, so the step would never end"));
        if (dwell < kLongUnguardedDischargeS)
            return;
        if (step.ActionMode == actions::DisCharge && !walk_.steps()[std::size_t(i)].mayStop)
            add(Severity::Warning, i + 1, Dwell,
                QStringLiteral("a discharge with neither a stop value nor a stop charge runs all "
                               "of its %1")
                    .arg(seconds(dwell)));
        else if (step.ActionMode == actions::OverDisCharge)
            add(Severity::Warning, i + 1, Dwell,
                QStringLiteral("an over-discharge runs all of its %1: the run checks no stop "
                               "value or stop charge on it")
                    .arg(seconds(dwell)));
    }

    void notes(const std::vector<ProgramWalk::Note>& notes)
    {
        using Note = ProgramWalk::Note;
        for (const Note& note : notes) {
            if (!noted_.insert({int(note.kind), note.step}).second)
                continue;
            const TestStep& step = at(note.step);
            QString problem;
            switch (note.kind) {
            case Note::Kind::RampOnTimer:
                problem = QStringLiteral("comes after the first step that is waited on, so the "
                                         "run timer carries it: it sends no level and only "
                                         "measures for %1; ramps and holds belong before that step")
                              .arg(seconds(parseNumber(step.StopTime)));
                break;
            }
            add(Severity::Warning, note.step + 1, Action, problem);
        }
    }

    const std::vector<TestStep>& steps_;
    ProgramWalk walk_;
    std::vector<int> enclosingFor_;
    std::vector<int> enclosingFor2_;
    QList<ProgramFinding> findings_;
    std::set<std::pair<int, int>> noted_;
    bool endless_ = false;
};

QString severityName(const ProgramFinding& f)
{
    return f.isError() ? QStringLiteral("error") : QStringLiteral("warning");
}

} // namespace

int ProgramCheck::errors() const
{
    return static_cast<int>(
        std::count_if(findings.begin(), findings.end(), [](const auto& f) { return f.isError(); }));
}

int ProgramCheck::warnings() const
{
    return static_cast<int>(findings.size()) - errors();
}

ProgramCheck checkProgram(const std::vector<TestStep>& steps)
{
    return Checker(steps).run();
}

ProgramCheck checkProgramFile(const QString& path)
{
    QString error;
    const auto content = readTestProgram(path, &error);
    if (!content) {
        ProgramCheck check;
        check.readable = false;
        check.findings.append({Severity::Error, 0, 0, error});
        return check;
    }
    return checkProgram(content->steps);
}

QString programRefusal(const QList<ProgramFinding>& findings)
{
    QStringList errors;
    for (const ProgramFinding& f : findings) {
        if (f.isError())
            errors << f.sentence;
    }
    if (errors.isEmpty())
        return {};
    const qsizetype total = errors.size();
    if (total > kListedErrors) {
        errors.resize(kListedErrors);
        errors << QStringLiteral("... and %1 more.").arg(total - kListedErrors);
    }
    return QStringLiteral("The test was not started: the program check found %1 %2.\n")
               .arg(total)
               .arg(total == 1 ? QStringLiteral("error") : QStringLiteral("errors")) +
           errors.join(QLatin1Char('\n'));
}

QString findingLine(const ProgramFinding& finding)
{
    return severityName(finding) + QStringLiteral(": ") + finding.sentence;
}

QString runTimeText(double seconds)
{
    const qint64 s = std::llround(std::max(seconds, 0.0));
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString estimateText(const RunEstimate& e)
{
    QString text = runTimeText(e.fullSeconds);
    const QString shortest = runTimeText(e.shortestSeconds);
    if (e.endless)
        text += QStringLiteral(" (%1 to no end)").arg(shortest);
    else if (shortest != text)
        text += QStringLiteral(" (%1 to %2)").arg(shortest, text);
    // Grouped the English way whatever the machine's language: "12,000".
    text += QStringLiteral(", about %1 records").arg(QLocale(QLocale::English).toString(e.records));
    return e.complete ? text : QStringLiteral("at least ") + text;
}
