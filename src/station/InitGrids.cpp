#include "station/InitGrids.h"

#include "common/NumberText.h"
#include "settings/IniFile.h"
#include "settings/LinkRecord.h"
#include "settings/SystemSettings.h"
#include "station/Station.h"
#include "testprogram/TestStep.h"

namespace {

void setUp(GridModel& grid, int rows, int cols, int fixedRows, int fixedCols,
           const QStringList& firstRow, const QList<int>& widths)
{
    grid.beginBulkUpdate();
    grid.setRows(0);
    grid.setCols(cols);
    grid.setRows(rows);
    grid.setFixed(fixedRows, fixedCols);
    grid.setRowTexts(0, firstRow);
    grid.endBulkUpdate();
    for (int c = 0; c < widths.size(); ++c)
        grid.setColWidth(c, widths[c]);
    grid.setTopRow(fixedRows);
}

} // namespace

void InitGrids(Station& station)
{
    StationForm& form = station.form;

    // Setting the step grid up is no edit of the program.
    const auto quiet = station.programEdits.quiet();
    setUp(form.TestStepGrid, 2, 11, 1, 1,
          QStringList(kStepGridHeaders.begin(), kStepGridHeaders.end()),
          {1000, 2000, 1400, 1000, 2000, 1800, 0, 0, 1500, 0, 2000});
    form.TestStepGrid.setCurrentCell(1, 1);

    setUp(form.CopyPasteGrid, 2, 11, 1, 1,
          {"Step", "Action Mode", "Mode / Volt", "Value", "Dwell Time(m)", "Loop Times",
           "Stable(s)", "StopAH", "MeasT(s)", "Go To", " "},
          {400, 1300, 1100, 800, 1100, 900, 800, 900, 800, 800, 800});

    GridModel& phase = form.grdPhase3;
    setUp(phase, 4, 4, 0, 1, {"Phase", "Votlage", "Current", "Power"}, {960, 1250, 1250, 1100});
    const QStringList letters = {"A", "B", "C"};
    for (int r = 1; r <= 3; ++r) {
        phase.setText(r, 0, letters[r - 1]);
        for (int c = 1; c <= 3; ++c)
            phase.setText(r, c, QStringLiteral("0.000"));
    }

    const int connectMode = roundToInt(parseNumber(ReadIniString(
        station.settingsFilePath(), settingskeys::MainSection, settingskeys::ConnectMode, "2")));
    setUp(form.LoadStatusGrid, 2, 3, 1, 1, {"No", linkTypeName(connectMode), "Status"},
          {700, 2000, 1600});
    form.LoadStatusGrid.setText(1, 0, QStringLiteral("1"));
}
