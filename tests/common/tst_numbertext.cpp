#include "common/NumberText.h"
#include "support/TestMain.h"

class NumberTextTest : public QObject
{
    Q_OBJECT

private slots:
    void parseNumber_takesLeadingNumericPart_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("plain") << "12.5" << 12.5;
        QTest::newRow("leading blanks") << "   7" << 7.0;
        QTest::newRow("unit after number") << "12.5V" << 12.5;
        QTest::newRow("empty") << "" << 0.0;
        QTest::newRow("text") << "CC" << 0.0;
        QTest::newRow("negative") << "-3.25" << -3.25;
        QTest::newRow("plus sign") << "+4" << 4.0;
        QTest::newRow("leading dot") << ".5" << 0.5;
        QTest::newRow("exponent") << "1.5E3" << 1500.0;
        QTest::newRow("exponent without digits") << "2E" << 2.0;
        QTest::newRow("comma is not a decimal point") << "2,5" << 2.0;
        QTest::newRow("reply with blanks kept") << " 230.1 " << 230.1;
        QTest::newRow("lone sign") << "-" << 0.0;
        QTest::newRow("huge saturates") << "1e999" << std::numeric_limits<double>::max();
        QTest::newRow("tiny is zero") << "1e-999" << 0.0;
    }
    void parseNumber_takesLeadingNumericPart()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QCOMPARE(parseNumber(text), value);
    }

    void numberChecks_acceptWholeTextOnly()
    {
        QVERIFY(isNumberText(QStringLiteral(" 1.5 ")));
        QVERIFY(isNumberText(QStringLiteral("-2")));
        QVERIFY(!isNumberText(QStringLiteral("")));
        QVERIFY(!isNumberText(QStringLiteral("1.5x")));
        QVERIFY(!isNumberText(QStringLiteral("abc")));
        QVERIFY(isWholeNumberText(QStringLiteral("1500")));
        QVERIFY(isWholeNumberText(QStringLiteral(" 12 ")));
        QVERIFY(!isWholeNumberText(QStringLiteral("12.0")));
        QVERIFY(!isWholeNumberText(QStringLiteral("1e3")));
        QVERIFY(!isWholeNumberText(QStringLiteral("-")));
        QVERIFY(!isWholeNumberText(QStringLiteral("")));
    }

    void formatGeneral_printsShortestGeneralForm_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 12500.0 << "12500";
        QTest::newRow("half") << 0.5 << "0.5";
        QTest::newRow("no trailing zeros") << 2.30 << "2.3";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative zero") << -0.0 << "0";
        QTest::newRow("negative") << -1.25 << "-1.25";
        QTest::newRow("fifteen digits") << 1.0 / 3.0 << "0.333333333333333";
        QTest::newRow("small stays fixed") << 0.0001 << "0.0001";
        QTest::newRow("smaller uses exponent") << 0.00001 << "1E-05";
        QTest::newRow("14 digits stays fixed") << 99999999999999.0 << "99999999999999";
        QTest::newRow("1E15 uses exponent") << 1e15 << "1E+15";
        QTest::newRow("three exponent digits") << 1e100 << "1E+100";
        QTest::newRow("division result") << 0.533 << "0.533";
    }
    void formatGeneral_printsShortestGeneralForm()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(formatGeneral(value), text);
    }

    void rounding_halvesAwayFromZeroAndClamps()
    {
        QCOMPARE(roundToInt(2.5), 3);
        QCOMPARE(roundToInt(-2.5), -3);
        QCOMPARE(roundToInt(4000.6), 4001);
        QCOMPARE(roundToInt(1e20), std::numeric_limits<int>::max());
        QCOMPARE(truncToInt(3.9), 3);
        QCOMPARE(truncToInt(-3.9), -3);
        QCOMPARE(roundTo4(0.12345), 0.1235);
    }

    void ConvertSecToMin_turnsMinutesAndSecondsIntoDecimalMinutes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("result");
        QTest::newRow("1:30") << "1:30"
                              << "1.5000";
        QTest::newRow("5:30") << "5:30"
                              << "5.5000";
        QTest::newRow("seconds only") << "0:20"
                                      << "0.3333";
        QTest::newRow("third part ignored") << "1:30:15"
                                            << "1.5000";
        QTest::newRow("no colon unchanged") << "90"
                                            << "90";
        QTest::newRow("text unchanged") << "abc"
                                        << "abc";
        QTest::newRow("empty minutes") << ":45"
                                       << "0.7500";
    }
    void ConvertSecToMin_turnsMinutesAndSecondsIntoDecimalMinutes()
    {
        QFETCH(QString, text);
        QFETCH(QString, result);
        QCOMPARE(ConvertSecToMin(text), result);
    }

    void formatGeneral_ignoresTheProcessLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German));
        std::setlocale(LC_ALL, "de_DE.UTF-8");
        QCOMPARE(formatGeneral(0.5), QStringLiteral("0.5"));
        QCOMPARE(parseNumber(QStringLiteral("0.5")), 0.5);
        std::setlocale(LC_ALL, "C");
        QLocale::setDefault(QLocale::c());
    }
};

ACL3_TEST_MAIN(NumberTextTest)
#include "tst_numbertext.moc"
