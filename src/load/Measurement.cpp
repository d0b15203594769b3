#include "load/Measurement.h"

#include "common/NumberText.h"
#include "links/LinkLayer.h"
#include "station/Station.h"

namespace {

constexpr double kMsPerHour = 3600.0 * 1000.0;
const QString kNoValue = QStringLiteral("Err");

QStringList fieldsOf(const QString& reply)
{
    return reply.isEmpty() ? QStringList() : reply.split(QLatin1Char(','));
}

// Stop or Pause pressed inside a reply wait: nothing more is sent, nothing more shown.
bool interrupted(const Station& station)
{
    return station.run.interrupted();
}

// One query and its reply in one column; false when the run was stopped meanwhile. `measured`
// is set when a field of the reply reads as a number.
bool measurePass(Station& station, const QString& query, int column, bool& measured)
{
    LinkLayer& links = station.links();
    const int n = station.loadInstrument();
    GridModel& grid = station.form.grdPhase3;
    links.SendCommand(n, query);
    QStringList fields = fieldsOf(links.ReadReply(n));
    if (interrupted(station))
        return false;
    if (fields.size() < 2) {
        links.SendCommand(n, query);
        fields = fieldsOf(links.ReadReply(n));
        if (interrupted(station))
            return false;
    }
    for (const QString& field : std::as_const(fields))
        measured = measured || beginsWithNumber(field);
    if (fields.size() >= 2) {
        // Phases A, B and C from the first three fields; a further field (the total) is not
        // a phase.
        for (int phase = 0; phase < std::min<int>(fields.size(), 3); ++phase)
            grid.setText(phase + 1, column, fields[phase]);
    } else if (fields.size() == 1) {
        grid.setText(1, column, fields[0]);
        for (int row = 2; row <= 3; ++row) {
            grid.setText(row, column, kNoValue);
            grid.setForeColor(row, column, gridcolors::Grey);
            if (column == 1)
                grid.setForeColor(row, 0, gridcolors::Grey);
        }
    } else {
        for (int row = 1; row <= 3; ++row)
            grid.setText(row, column, kNoValue);
    }
    return true;
}

// A cell that does not begin with a number adds nothing.
double cellValue(const GridModel& grid, int row, int column, bool* valid = nullptr)
{
    const QString text = grid.text(row, column);
    const bool numeric = beginsWithNumber(text);
    if (valid)
        *valid = numeric;
    return numeric ? parseNumber(text) : 0.0;
}

QString fourDecimals(double value)
{
    return QString::number(value, 'f', 4);
}

QString eightDecimals(double value)
{
    return QString::number(value, 'f', 8);
}

void updateLiveValues(Station& station)
{
    const GridModel& grid = station.form.grdPhase3;
    StationForm& form = station.form;
    RunState& run = station.run;
    bool voltageValid = false;
    const double voltage = cellValue(grid, 1, 1, &voltageValid);
    double current = 0;
    double power = 0;
    for (int row = 1; row <= 3; ++row) {
        current += cellValue(grid, row, 2);
        power += cellValue(grid, row, 3);
    }
    // A voltage that could not be read keeps the last one shown: a read error must not look
    // like a cell that has reached its stop voltage.
    if (voltageValid)
        form.VoltageText.setText(fourDecimals(voltage));
    form.CurrentText.setText(fourDecimals(current));
    form.PowerText.setText(fourDecimals(power));
    const double shownVoltage = parseNumber(form.VoltageText.text());
    form.ResText.setText(current == 0 ? QStringLiteral("0.0000")
                                      : fourDecimals(shownVoltage / current));

    const double now = station.clock.monotonicMs();
    const double hours = std::max(now - run.LastMeasureMs, 0.0) / kMsPerHour;
    run.LastMeasureMs = now;
    run.StepAh += current * hours;
    run.StepKwh += power * hours / 1000.0;
    form.AHText.setText(eightDecimals(run.StepAh));
    form.KWHText.setText(eightDecimals(run.StepKwh));
}

} // namespace

bool MeasurePhases(Station& station, int /*stepIndex*/)
{
    StationForm& form = station.form;
    const RunState& run = station.run;
    form.Loop1Text.setText(run.ForRow != 0 ? form.TestStepGrid.text(run.ForRow, 5) : QString());
    form.Loop2Text.setText(run.For2Row != 0 ? form.TestStepGrid.text(run.For2Row, 5) : QString());
    if (!station.LoadConnected[0])
        return false;
    bool measured = false;
    if (!measurePass(station, QStringLiteral("GLOB:MEAS:VOLT?"), 1, measured) ||
        !measurePass(station, QStringLiteral("GLOB:MEAS:CURR?"), 2, measured) ||
        !measurePass(station, QStringLiteral("GLOB:MEAS:POW?"), 3, measured))
        return measured;
    updateLiveValues(station);
    showMeasurementsLive(station, measured);
    return measured;
}

void showMeasurementsLive(Station& station, bool live)
{
    for (const QString& control : StationForm::measurementControls())
        station.form.enabled(control).setFlag(live);
    // A grid shows its texts in their cell colours, whatever its Enabled flag: the values are
    // greyed cell by cell. A cell that shows "Err" keeps the grey the reply gave it.
    GridModel& grid = station.form.grdPhase3;
    for (int row = 1; row <= 3; ++row) {
        for (int col = 1; col <= 3; ++col) {
            if (!live)
                grid.setForeColor(row, col, gridcolors::Grey);
            else if (beginsWithNumber(grid.text(row, col)))
                grid.setForeColor(row, col, gridcolors::System);
        }
    }
}

void ResetStepAccumulators(Station& station)
{
    SetStepAccumulators(station, 0, 0);
}

void SetStepAccumulators(Station& station, double ah, double kwh)
{
    RunState& run = station.run;
    run.StepAh = ah;
    run.StepKwh = kwh;
    run.LastMeasureMs = station.clock.monotonicMs();
    station.form.AHText.setText(eightDecimals(ah));
    station.form.KWHText.setText(eightDecimals(kwh));
}
