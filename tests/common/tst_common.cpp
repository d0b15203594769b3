// Protects the clocks, the waits, whole-file writes and numbers as files, load and log hold them.
#include "common/AtomicFile.h"
#include "common/Clock.h"
#include "common/NumberText.h"
#include "common/Waits.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

class CommonTest : public QObject
{
    Q_OBJECT

private slots:
    // Every case below runs under a German process locale: numbers must not follow it.
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::German));
        std::setlocale(LC_ALL, "de_DE.UTF-8");
    }

    void waits_runOnTheClockAndOnlyPreciseOnesHoldEvents()
    {
        FakeClock clock(QDateTime(QDate(2026, 3, 1), QTime(8, 0)), 1000);
        bool fired = false;
        QTimer::singleShot(0, [&] { fired = true; });
        const double start = clock.monotonicMs();
        PreciseDelayMs(clock, 2000);
        QVERIFY(!fired);
        DelayMs(clock, 3000); // handles events while it waits
        QVERIFY(fired);
        QVERIFY(clock.monotonicMs() - start >= 5000);
        int polls = 0;
        QVERIFY(WaitUntil(clock, 1e9, [&] { return ++polls == 3; }));
        QVERIFY(!WaitUntil(clock, 5, [] { return false; }));
    }

    // A refused save keeping the old file and leaving no temporary is checked on program saves.
    void atomicWrite_intoAMissingFolder_namesThePath()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("missing/a.ini"));
        QString error;
        QVERIFY(!writeFileAtomically(path, "new content", &error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    }

    void convert_data()
    {
        // checks: isNumberText and isWholeNumberText as 0/1; datetime: read and printed again.
        addColumns({"f", "text", "result"});
        addRows({"plain;parse;12.5;12.5", "leading blanks;parse;   7;7",
                 "unit after number;parse;12.5V;12.5", "empty;parse;;0", "text;parse;CC;0",
                 "negative;parse;-3.25;-3.25", "plus sign;parse;+4;4", "leading dot;parse;.5;0.5",
                 "exponent;parse;1.5E3;1500", "exponent without digits;parse;2E;2",
                 "comma is not a decimal point;parse;2,5;2",
                 "reply with blanks;parse; 230.1 ;230.1", "lone sign;parse;-;0",
                 "huge saturates;parse;1e999;1.7976931348623157e308",
                 "tiny is zero;parse;1e-999;0"});
        addRows({"whole;format;12500;12500", "half;format;0.5;0.5", "trailing zero;format;2.30;2.3",
                 "zero;format;0;0", "negative zero;format;-0;0", "negative;format;-1.25;-1.25",
                 "third;format;0.3333333333333333;0.333333333333333",
                 "small fixed;format;0.0001;0.0001", "small exponent;format;0.00001;1E-05",
                 "fourteen digits;format;99999999999999;99999999999999",
                 "large exponent;format;1e15;1E+15", "three-digit exponent;format;1e100;1E+100",
                 "resistance;format;0.533;0.533"});
        addRows({"1:30;minutes;1:30;1.5000", "5:30;minutes;5:30;5.5000",
                 "seconds only;minutes;0:20;0.3333", "third part ignored;minutes;1:30:15;1.5000",
                 "no colon unchanged;minutes;90;90", "text unchanged;minutes;abc;abc",
                 "empty minutes;minutes;:45;0.7500"});
        addRows({"blanks around;checks; 1.5 ;10", "negative whole;checks;-2;11", "none;checks;;00",
                 "trailing text;checks;1.5x;00", "letters;checks;abc;00", "whole;checks; 12 ;11",
                 "point zero;checks;12.0;10", "exponent;checks;1e3;10", "lone sign;checks;-;00"});
        addRows({"half up;round;2.5;3", "half down;round;-2.5;-3", "above half;round;4000.6;4001",
                 "clamped;round;1e20;2147483647", "truncated;trunc;3.9;3",
                 "truncated negative;trunc;-3.9;-3", "four places;round4;0.12345;0.1235",
                 "date and time;datetime;2026/03/02 00:00:01;2026/03/02 00:00:01",
                 "not a date;datetime;yesterday;"});
    }
    void convert()
    {
        QFETCH(QString, f);
        QFETCH(QString, text);
        QFETCH(QString, result);
        const double x = text.toDouble();
        if (f == "parse")
            QCOMPARE(parseNumber(text), result.toDouble());
        else if (f == "round4")
            QCOMPARE(roundTo4(x), result.toDouble());
        else if (f == "format")
            QCOMPARE(formatGeneral(x), result);
        else if (f == "datetime")
            QCOMPARE(dateTimeText(parseDateTimeText(text)), result);
        else if (f == "minutes")
            QCOMPARE(ConvertSecToMin(text), result);
        else if (f == "checks")
            QCOMPARE(QString::number(isNumberText(text)) + QString::number(isWholeNumberText(text)),
                     result);
        else
            QCOMPARE(QString::number(f == "round" ? roundToInt(x) : truncToInt(x)), result);
    }
};

ACL3_TEST_MAIN(CommonTest)
#include "tst_common.moc"
