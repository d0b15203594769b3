#include "testprogram/ProgramCheck.h"

#include "common/NumberText.h"
#include "testprogram/StepValues.h"

namespace {

// A refusal lists this many errors and counts the rest.
constexpr int kListedErrors = 10;

ProgramFinding error(int step, int column, const QString& text, const QString& problem)
{
    return {ProgramFinding::Severity::Error, step, column,
            QStringLiteral("Step %1, %2 \"%3\": %4")
                .arg(step)
                .arg(kStepGridHeaders[static_cast<std::size_t>(column)], text, problem)};
}

} // namespace

QList<ProgramFinding> checkProgram(const std::vector<TestStep>& steps)
{
    QList<ProgramFinding> findings;
    for (int n = 1; n <= static_cast<int>(steps.size()); ++n) {
        const TestStep& step = steps[static_cast<std::size_t>(n - 1)];
        const QList<stepvalues::Fault> faults = stepvalues::rangeFaults(step);
        for (int column = stepcolumns::Mode; column <= TestStep::kFieldCount; ++column) {
            if (!stepvalues::reachesLoad(step, column))
                continue;
            const QString& text = step.field(column - 1);
            if (stepvalues::holdsNumber(step.ActionMode, column) && !isNumberText(text)) {
                findings << error(n, column, text, QStringLiteral("not a number"));
                continue;
            }
            for (const stepvalues::Fault& fault : faults) {
                if (fault.column == column)
                    findings << error(n, column, text, fault.message);
            }
        }
    }
    return findings;
}

QString programRefusal(const QList<ProgramFinding>& findings)
{
    QStringList errors;
    for (const ProgramFinding& f : findings) {
        if (f.severity == ProgramFinding::Severity::Error)
            errors << f.sentence;
    }
    if (errors.isEmpty())
        return {};
    const qsizetype more = errors.size() - kListedErrors;
    if (more > 0) {
        errors.resize(kListedErrors);
        errors << QStringLiteral("... and %1 more.").arg(more);
    }
    return QStringLiteral("The test was not started: the program holds values the load must "
                          "not get.\n") +
           errors.join(QLatin1Char('\n'));
}
