// The program check of a 1500-step program (target: under 5 ms), and a dry run of a day of dwell
// time measured every second (target: under a minute).
#include "testprogram/ProgramCheck.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "BenchMain.h"

namespace {

TestStep step(std::initializer_list<const char*> fields)
{
    TestStep s;
    int i = 0;
    for (const char* f : fields)
        s.field(i++) = QString::fromLatin1(f);
    return s;
}

// A long battery program as engineers write them: blocks of load levels, discharges with a stop
// voltage and rests in nested counted loops; 1500 steps.
std::vector<TestStep> bigProgram()
{
    const std::vector<TestStep> block = {
        step({"FOR", "", "", "", "3"}),
        step({"LoadLevel", "CC", "5", "60", "", "", "", "1", "", "50"}),
        step({"FOR2", "", "", "", "2"}),
        step({"LoadLevel", "CR", "50", "30", "", "", "", "1", "", "50"}),
        step({"LoadLevel", "CP", "2000", "30", "", "", "", "1", "", "60"}),
        step({"LOOP2"}),
        step({"DisCharge", "CC", "8", "600", "3", "2", "0", "1", "NextStep"}),
        step({"Suspend", "", "", "30", "0", "0", "0", "1", "NextStep"}),
        step({"DisCharge", "CC", "20", "3600", "42", "2", "0", "1", "NextStep"}),
        step({"LOOP"}),
    };
    std::vector<TestStep> steps;
    while (steps.size() + block.size() <= std::size_t(kMaxProgramSteps))
        steps.insert(steps.end(), block.begin(), block.end());
    while (steps.size() < std::size_t(kMaxProgramSteps))
        steps.push_back(step({"Suspend", "", "", "1", "0", "0", "0", "1", "NextStep"}));
    return steps;
}

void BM_CheckProgram1500(benchmark::State& state)
{
    const std::vector<TestStep> steps = bigProgram();
    ProgramCheck check;
    for (auto _ : state) {
        check = checkProgram(steps);
        benchmark::DoNotOptimize(check);
    }
    state.counters["findings"] = double(check.findings.size());
    state.counters["estimated_h"] = check.estimate.fullSeconds / 3600;
}
BENCHMARK(BM_CheckProgram1500)->Unit(benchmark::kMillisecond);

// acl3-run --dry-run of 24 hours of load levels measured every second: 86,400 records.
void BM_DryRunOfADay(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString program = QDir(dir.path()).filePath(QStringLiteral("day.INI"));
    QFile file(program);
    if (!file.open(QIODevice::WriteOnly)) {
        state.SkipWithError("cannot write the program");
        return;
    }
    file.write("[TestStep Option]\r\nMeasureTime=1\r\nTotalStepCount=4\r\n"
               "[Step1]\r\nActionMode=FOR\r\nStopValue=720\r\n"
               "[Step2]\r\nActionMode=LoadLevel\r\nLoadModeVolt=CC\r\nCurrentValue=5\r\n"
               "StopTime=60\r\nMeasTime=1\r\nFrequency=50\r\n"
               "[Step3]\r\nActionMode=LoadLevel\r\nLoadModeVolt=CC\r\nCurrentValue=10\r\n"
               "StopTime=60\r\nMeasTime=1\r\nFrequency=50\r\n"
               "[Step4]\r\nActionMode=LOOP\r\n");
    file.close();
    for (auto _ : state) {
        QProcess run;
        run.setWorkingDirectory(dir.path());
        QElapsedTimer real;
        real.start();
        run.start(QStringLiteral(ACL3_RUN_PATH),
                  {QStringLiteral("--dry-run"), QStringLiteral("--program"), program});
        run.waitForFinished(-1);
        state.SetIterationTime(real.nsecsElapsed() / 1e9);
        if (run.exitCode() != 0) {
            state.SkipWithError(run.readAllStandardError().right(300).constData());
            return;
        }
        state.counters["speed_up"] = 86400.0 / (real.nsecsElapsed() / 1e9);
    }
}
BENCHMARK(BM_DryRunOfADay)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    return runQtBenchmarks(argc, argv);
}
