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

bool RunBench::waitForEnd(int timeoutMs)
{
    return !ended.isEmpty() || ended.wait(timeoutMs);
}

RunEnd RunBench::run(int timeoutMs)
{
    rc.StartCommand();
    if (!waitForEnd(timeoutMs))
        qFatal("the run did not end");
    return ended.first().first().value<RunEnd>();
}

QList<QStringList> RunBench::records() const
{
    QList<QStringList> out;
    const QStringList lines = QString::fromUtf8(readFile(fixture.station->run.LogFileName))
                                  .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (int i = 1; i < lines.size(); ++i)
        out << lines[i].split(QLatin1Char(','));
    return out;
}

QList<QStringList> steps(const QString& text)
{
    QList<QStringList> out;
    for (const QString& step : text.split(QStringLiteral(", "), Qt::SkipEmptyParts)) {
        const QStringList w = step.split(u' ');
        if (step.contains(u'|') || w.size() < 3)
            out << step.split(u'|');
        else
            out << QStringList{"LoadLevel",     w[0], w[1], w[2], "", "", "",
                               w.value(3, "1"), "",   "50"};
    }
    return out;
}

QString passes(const QList<QStringList>& records)
{
    QStringList out;
    for (const QStringList& r : records) {
        if (out.isEmpty() || out.last() != r[1] + u'/' + r[2])
            out << r[1] + u'/' + r[2];
    }
    return out.join(u' ');
}
