#include "station/ProgramCheckCommands.h"

#include "station/Station.h"
#include "testprogram/TestProgramFile.h"

#include <QTimer>

namespace {

// The question lists this many warnings and counts the rest.
constexpr int kListedWarnings = 10;

QString counted(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

void showFindings(GridModel& grid, const ProgramCheck& check)
{
    grid.beginBulkUpdate();
    grid.setRows(0);
    grid.setCols(4);
    grid.setRows(static_cast<int>(check.findings.size()) + 1);
    grid.setFixed(1, 0);
    grid.setRowTexts(0, {QStringLiteral("Severity"), QStringLiteral("Step"),
                         QStringLiteral("Message"), QStringLiteral("Column")});
    int row = 1;
    for (const ProgramFinding& f : check.findings) {
        grid.setRowTexts(row, {f.isError() ? QStringLiteral("Error") : QStringLiteral("Warning"),
                               f.step > 0 ? QString::number(f.step) : QString(), f.sentence,
                               QString::number(f.column)});
        grid.setForeColor(row, 0, f.isError() ? gridcolors::Red : gridcolors::System);
        ++row;
    }
    grid.endBulkUpdate();
    const int widths[] = {1000, 700, 14000, 0};
    for (int c = 0; c < 4; ++c)
        grid.setColWidth(c, widths[c]);
    grid.setTopRow(1);
}

} // namespace

QString estimateStatus(const ProgramCheck& check)
{
    QString text = QStringLiteral("Estimated run time ") + estimateText(check.estimate);
    if (!check.findings.isEmpty())
        text += QStringLiteral("; ") + counted(check.errors(), "error", "errors") +
                QStringLiteral(", ") + counted(check.warnings(), "warning", "warnings");
    return text;
}

ProgramCheck CheckCommand(Station& station)
{
    const ProgramCheck check = checkProgram(stepsInGrid(station.form.TestStepGrid));
    showFindings(station.form.ProgramFindings, check);
    station.form.ProgramEstimate.setText(estimateStatus(check));
    return check;
}

bool ConfirmStart(Station& station)
{
    const ProgramCheck check = CheckCommand(station);
    if (const QString refusal = programRefusal(check.findings); !refusal.isEmpty()) {
        station.prompts.message(refusal);
        return false;
    }
    if (check.warnings() == 0)
        return true;
    QStringList lines;
    for (const ProgramFinding& f : check.findings) {
        if (lines.size() < kListedWarnings)
            lines << f.sentence;
    }
    if (check.warnings() > kListedWarnings)
        lines << QStringLiteral("... and %1 more.").arg(check.warnings() - kListedWarnings);
    const QString text =
        QStringLiteral("The program check found %1:\n%2\n\nStart anyway?")
            .arg(counted(check.warnings(), "warning", "warnings"), lines.join(QLatin1Char('\n')));
    return station.prompts.question(text, {PromptAnswer::Yes, PromptAnswer::No},
                                    QStringLiteral("Warning!")) == PromptAnswer::Yes;
}

ProgramEstimateWatch::ProgramEstimateWatch(Station& station, QObject* parent)
    : QObject(parent), station_(station)
{
    connect(&station.programEdits, &ProgramEdits::edited, this, &ProgramEstimateWatch::schedule);
    connect(&station.programEdits, &ProgramEdits::changed, this, &ProgramEstimateWatch::schedule);
    schedule();
}

void ProgramEstimateWatch::schedule()
{
    // A paste or a load changes many cells at once: the check runs once they are all in.
    if (scheduled_)
        return;
    scheduled_ = true;
    QTimer::singleShot(0, this, &ProgramEstimateWatch::update);
}

void ProgramEstimateWatch::update()
{
    scheduled_ = false;
    station_.form.ProgramEstimate.setText(
        estimateStatus(checkProgram(stepsInGrid(station_.form.TestStepGrid))));
}
