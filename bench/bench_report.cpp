// The report of a day's run: 864,000 records of 9 series (a day at 0.1 s, a step every ten
// minutes) read from its CSV log and written as PDF, then as HTML (target: the PDF in under
// 5 s). Run offscreen:
//   QT_QPA_PLATFORM=offscreen build-rel/bench/bench_report
#include "Measure.h"
#include "report/ReportDocument.h"
#include "report/RunReport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <random>

namespace {

constexpr int kRecords = 864000;
constexpr int kRecordsPerSecond = 10;
constexpr int kRecordsPerStep = 6000;

QString clockText(qint64 s)
{
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600, 2, 10, QLatin1Char('0'))
        .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

void writeDay(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write("No.,Step,Loop1,StepTime,VotlageA,VotlageB,VotlageC,CurrentA,CurrentB,CurrentC,"
               "PowerA,PowerB,PowerC,TotalTime,StepMode\r\n");
    std::mt19937 random(1);
    std::normal_distribution<double> noise(0, 0.2);
    QByteArray line;
    for (int i = 0; i < kRecords; ++i) {
        const qint64 second = i / kRecordsPerSecond;
        const int step = 1 + i / kRecordsPerStep;
        line = QByteArray::number(i + 1) + ',' + QByteArray::number(step) + ",," +
               clockText(8 * 3600 + second).toLatin1();
        double v[9];
        for (int p = 0; p < 3; ++p) {
            v[p] = 230 + 3 * std::sin(i / 9000.0 + p) + noise(random);
            v[3 + p] = 2.0 * (step % 5) + noise(random) * 0.05;
            v[6 + p] = v[p] * v[3 + p];
        }
        for (const double x : v)
            line += ',' + QByteArray::number(x, 'g', 6);
        line += ',' + clockText(second).toLatin1() + ",CC\r\n";
        file.write(line);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("DAY.CSV"));
    writeDay(log);
    std::printf("log: %d records, %.0f MB\n", kRecords, QFileInfo(log).size() / 1e6);

    for (const char* suffix : {"pdf", "html"}) {
        QElapsedTimer timer;
        timer.start();
        const double cpuStart = threadCpuMs();
        RunReport report;
        QString error;
        if (!buildRunReport({log, {}, {}, QStringLiteral("finished")}, report, &error))
            qFatal("%s", qPrintable(error));
        const qint64 readMs = timer.elapsed();
        const double readCpuMs = threadCpuMs() - cpuStart;
        const QString out = dir.filePath(QStringLiteral("DAY.") + QLatin1String(suffix));
        if (!writeReport(report, out, &error))
            qFatal("%s", qPrintable(error));
        // The wall time depends on what else the shared machine runs; the CPU time much less.
        std::printf("%-4s report: %lld ms wall, %.0f ms CPU (of which the log and the figures "
                    "%lld ms wall, %.0f ms CPU); %zu step rows, %.2f MB\n",
                    suffix, static_cast<long long>(timer.elapsed()), threadCpuMs() - cpuStart,
                    static_cast<long long>(readMs), readCpuMs, report.rows.size(),
                    QFileInfo(out).size() / 1e6);
    }
    return 0;
}
