#include "execution/RunBench.h"

#include "testprogram/TestProgramFile.h"

RunBench::RunBench(double speed, SourceKind source, Link link)
    : SimStation(link, source), rc(station()), ended(&rc, &RunControl::runEnded)
{
    Station& s = station();
    fixture.clock.setSpeed(speed);
    s.settings.SaveLogFileFlag = 1;
    s.settings.TestFileName = fixture.programPath();
    s.form.SNText.setText(QStringLiteral("SN1"));
}

void RunBench::program(const QList<QStringList>& steps)
{
    writeFile(fixture.programPath(), programIni(steps));
    if (!LoadTestProgram(station()))
        qFatal("the program did not load");
}

void RunBench::start()
{
    rc.StartCommand();
}

bool RunBench::waitForEnd(int timeoutMs)
{
    return !ended.isEmpty() || ended.wait(timeoutMs);
}

RunEnd RunBench::run(int timeoutMs)
{
    start();
    if (!waitForEnd(timeoutMs))
        qFatal("the run did not end");
    return ended.first().first().value<RunEnd>();
}

QStringList RunBench::csv() const
{
    const QString text = QString::fromUtf8(readFile(fixture.station->run.LogFileName));
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QList<QStringList> RunBench::records() const
{
    QList<QStringList> out;
    const QStringList lines = csv();
    for (int i = 1; i < lines.size(); ++i)
        out << lines[i].split(QLatin1Char(','));
    return out;
}
