#include "support/TestMain.h"
#include "testprogram/ProgramCheck.h"

#include <QtTest>

namespace {

TestStep step(const QStringList& fields)
{
    TestStep s;
    for (int f = 0; f < TestStep::kFieldCount; ++f)
        s.field(f) = fields.value(f);
    return s;
}

} // namespace

class ProgramCheckTest : public QObject
{
    Q_OBJECT

private slots:
    void valuesTheLoadGets_areChecked_data()
    {
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QStringList>("errors");
        const QStringList none;
        QTest::newRow("load level")
            << QStringList{"LoadLevel", "CC", "5", "3", "", "", "", "1", "", "50"} << none;
        QTest::newRow("CC frequency missing")
            << QStringList{"LoadLevel", "CC", "5", "3", "", "", "", "1", "", ""}
            << QStringList{"Step 1, Frequency \"\": not a number"};
        // Only CC sends the frequency; the dwell time never reaches the load.
        QTest::newRow("CR frequency missing, long dwell")
            << QStringList{"LoadLevel", "CR", "50", "999999"} << none;
        QTest::newRow("unknown mode") << QStringList{"LoadLevel", "XX", "5"}
                                      << QStringList{"Step 1, Mode \"XX\": Load Mode ERROR !"};
        // A cell discharged in CV holds a few volts; 0 V would short it.
        QTest::newRow("discharge CV 3.5") << QStringList{"DisCharge", "CV", "3.5", "60"} << none;
        QTest::newRow("discharge CV 0")
            << QStringList{"DisCharge", "CV", "0", "60"}
            << QStringList{"Step 1, Value \"0\": Load Level must 0.1 ~ 350(V) !"};
        QTest::newRow("load level CV 10")
            << QStringList{"LoadLevel", "CV", "10", "60", "", "", "", "1", "", "50"}
            << QStringList{"Step 1, Value \"10\": Load Level must 50 ~ 350(Vrms) !"};
        QTest::newRow("ramp CR 0.2")
            << QStringList{"RAMP ON", "CR", "0.2", "5"}
            << QStringList{"Step 1, Value \"0.2\": Load Level must 0.533 ~ 10666(ohm) !"};
        QTest::newRow("pulse load") << QStringList{"PlusLoad", "abc", "5", "0.01", "250", "1", "3"}
                                    << QStringList{"Step 1, Mode \"abc\": not a number",
                                                   "Step 1, Dwell Time(s) \"0.01\": T-High must "
                                                   "0.05 ~ 9999(mS) !"};
        QTest::newRow("charge sends nothing") << QStringList{"Charge", "abc", "-5"} << none;
    }
    void valuesTheLoadGets_areChecked()
    {
        QFETCH(QStringList, fields);
        QFETCH(QStringList, errors);
        QStringList found;
        for (const ProgramFinding& f : checkProgram({step(fields)}))
            found << f.sentence;
        QCOMPARE(found, errors);
    }

    void refusal_listsTenErrorsAndCountsTheRest()
    {
        const std::vector<TestStep> program(12, step({"LoadLevel", "CR", "0"}));
        const QStringList lines = programRefusal(checkProgram(program)).split('\n');
        QCOMPARE(lines.size(), 12);
        QVERIFY(lines[10].startsWith("Step 10, Value"));
        QCOMPARE(lines[11], QStringLiteral("... and 2 more."));
        QVERIFY(programRefusal(checkProgram({step({"FOR", "", "", "", "2"})})).isEmpty());
    }
};

ACL3_TEST_MAIN(ProgramCheckTest)
#include "tst_programcheck.moc"
