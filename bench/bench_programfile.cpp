// Load and save of a 1500-step program holding every action (target: each under 20 ms).
#include "common/Clock.h"
#include "station/OperatorPrompts.h"
#include "station/ProgramCommands.h"
#include "station/Station.h"
#include "testprogram/TestProgramFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include "BenchMain.h"

namespace {

struct BenchStation
{
    BenchStation()
    {
        station.settings.TestFileName = QDir(dir.path()).filePath(QStringLiteral("big.INI"));
        GridModel& grid = station.form.TestStepGrid;
        grid.setCols(11);
        grid.setRows(kMaxProgramSteps + 1);
        const QStringList acts = actions::all();
        for (int n = 1; n <= kMaxProgramSteps; ++n) {
            grid.setText(n, 0, QString::number(n));
            grid.setText(n, 1, acts[(n - 1) % acts.size()]);
            for (int c = 2; c <= 10; ++c)
                grid.setText(n, c, QString::number(n * 0.5 + c));
        }
        saveProgramAs(station, station.settings.TestFileName);
    }

    QTemporaryDir dir;
    FakeClock clock;
    RecordingPrompts prompts;
    Station station{dir.path(), clock, prompts};
};

void BM_LoadTestProgram1500(benchmark::State& state)
{
    BenchStation b;
    for (auto _ : state)
        LoadTestProgram(b.station);
    state.counters["steps"] = b.station.TotalStepCount;
}
BENCHMARK(BM_LoadTestProgram1500)->Unit(benchmark::kMillisecond);

void BM_SaveTestProgram1500(benchmark::State& state)
{
    BenchStation b;
    int flip = 0;
    for (auto _ : state) {
        // Change one value each time so that every save really writes the file.
        b.station.form.TestStepGrid.setText(1, 3, QString::number(++flip));
        saveProgramAs(b.station, b.station.settings.TestFileName);
    }
}
BENCHMARK(BM_SaveTestProgram1500)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runQtBenchmarks(argc, argv);
}
