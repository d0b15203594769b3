// Protects reading and printing numbers as the program files, the load and the log hold them.
#include "common/NumberText.h"
#include "support/TestMain.h"
#include "support/UiSupport.h"

class NumberTextTest : public QObject
{
    Q_OBJECT

private slots:
    void parseNumber_takesTheLeadingNumericPart_data()
    {
        addColumns({"text", "value"});
        addRows({"plain;12.5;12.5", "leading blanks;   7;7", "unit after number;12.5V;12.5",
                 "empty;;0", "text;CC;0", "negative;-3.25;-3.25", "plus sign;+4;4",
                 "leading dot;.5;0.5", "exponent;1.5E3;1500", "exponent without digits;2E;2",
                 "comma is not a decimal point;2,5;2", "reply with blanks kept; 230.1 ;230.1",
                 "lone sign;-;0", "huge saturates;1e999;1.7976931348623157e308",
                 "tiny is zero;1e-999;0"});
    }
    void parseNumber_takesTheLeadingNumericPart()
    {
        QFETCH(QString, text);
        QFETCH(QString, value);
        QCOMPARE(parseNumber(text), value.toDouble());
    }

    void numberChecks_acceptTheWholeTextOnly()
    {
        const auto flags = [](const char* latin1) {
            const QString text = QString::fromLatin1(latin1);
            return QString::number(isNumberText(text)) + QString::number(isWholeNumberText(text));
        };
        QCOMPARE(QStringList({flags(" 1.5 "), flags("-2"), flags(""), flags("1.5x"), flags("abc"),
                              flags(" 12 "), flags("12.0"), flags("1e3"), flags("-")}),
                 QStringList({"10", "11", "00", "00", "00", "11", "10", "10", "00"}));
    }

    void formatGeneral_printsTheShortestGeneralForm_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        const QList<std::pair<double, const char*>> rows = {{12500.0, "12500"},
                                                            {0.5, "0.5"},
                                                            {2.30, "2.3"},
                                                            {0.0, "0"},
                                                            {-0.0, "0"},
                                                            {-1.25, "-1.25"},
                                                            {1.0 / 3.0, "0.333333333333333"},
                                                            {0.0001, "0.0001"},
                                                            {0.00001, "1E-05"},
                                                            {99999999999999.0, "99999999999999"},
                                                            {1e15, "1E+15"},
                                                            {1e100, "1E+100"},
                                                            {0.533, "0.533"}};
        for (const auto& [value, text] : rows)
            QTest::newRow(text) << value << QString::fromLatin1(text);
    }
    void formatGeneral_printsTheShortestGeneralForm()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(formatGeneral(value), text);
    }

    void rounding_halvesAwayFromZeroAndClamps()
    {
        QCOMPARE(QList<int>({roundToInt(2.5), roundToInt(-2.5), roundToInt(4000.6), truncToInt(3.9),
                             truncToInt(-3.9)}),
                 QList<int>({3, -3, 4001, 3, -3}));
        QCOMPARE(roundToInt(1e20), std::numeric_limits<int>::max());
        QCOMPARE(roundTo4(0.12345), 0.1235);
    }

    void ConvertSecToMin_turnsMinutesAndSecondsIntoDecimalMinutes_data()
    {
        addColumns({"text", "result"});
        addRows({"1:30;1:30;1.5000", "5:30;5:30;5.5000", "seconds only;0:20;0.3333",
                 "third part ignored;1:30:15;1.5000", "no colon unchanged;90;90",
                 "text unchanged;abc;abc", "empty minutes;:45;0.7500"});
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
