#include "common/AtomicFile.h"
#include "settings/IniFile.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

class IniFileTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString file(const QString& name) { return dir.filePath(name); }

private slots:
    void read_missingFileSectionOrKeyGivesTheDefault()
    {
        const QString path = file(QStringLiteral("none.ini"));
        QCOMPARE(ReadIniString(path, "A", "k", "dflt"), QStringLiteral("dflt"));
        writeFile(path, "[A]\r\nk=1\r\n");
        QCOMPARE(ReadIniString(path, "B", "k", "dflt"), QStringLiteral("dflt"));
        QCOMPARE(ReadIniString(path, "A", "other", "dflt"), QStringLiteral("dflt"));
        QCOMPARE(ReadIniString(path, "A", "k", "dflt"), QStringLiteral("1"));
    }

    void read_namesMatchWithoutRegardToCase()
    {
        const QString path = file(QStringLiteral("case.ini"));
        writeFile(path,
                  "[TestStep Option]\r\nTotalStepCount=12\r\n[Load1 Option]\r\nPORT=4001\r\n");
        QCOMPARE(ReadIniString(path, "teststep option", "TOTALSTEPCOUNT", ""),
                 QStringLiteral("12"));
        QCOMPARE(ReadIniString(path, "LOAD1 OPTION", "Port", ""), QStringLiteral("4001"));
    }

    void read_cutsValuesAt254Characters()
    {
        const QString path = file(QStringLiteral("long.ini"));
        const QByteArray longValue(300, 'x');
        writeFile(path, "[A]\nk=" + longValue + "\nshort=" + QByteArray(254, 'y') + "\n");
        QCOMPARE(ReadIniString(path, "A", "k", "").size(), 254);
        QCOMPARE(ReadIniString(path, "A", "short", ""), QString(254, QLatin1Char('y')));
        QCOMPARE(ReadIniString(path, "A", "missing", QString(300, QLatin1Char('d'))).size(), 254);
    }

    void read_trimsBlanksSkipsCommentsAndTakesTheFirstDuplicate()
    {
        const QString path = file(QStringLiteral("layout.ini"));
        writeFile(path, "; comment=1\n[A]\n  k  =  v w  \n;k=commented\nk=second\nexpr=a=b\n");
        IniFile ini(path);
        QVERIFY(ini.load());
        QCOMPARE(ini.read("A", "k", ""), QStringLiteral("v w"));
        QCOMPARE(ini.read("A", "expr", ""), QStringLiteral("a=b"));
        QVERIFY(!ini.contains("A", "; comment"));
    }

    void write_keepsTheByteOrderMarkAndCrOnlyLineEnds()
    {
        const QString path = file(QStringLiteral("cr.ini"));
        writeFile(path, "\xEF\xBB\xBF[A]\rk=1\r");
        IniFile ini(path);
        QVERIFY(ini.load());
        QCOMPARE(ini.read("A", "k", ""), QStringLiteral("1"));
        ini.write("A", "n", "2");
        QCOMPARE(ini.content(), QByteArray("\xEF\xBB\xBF[A]\rk=1\rn=2\r"));
    }

    void write_replacesOneValueAndKeepsEveryOtherByte()
    {
        const QString path = file(QStringLiteral("keep.ini"));
        // Comments, blank lines, odd spacing, mixed case, bytes that are not UTF-8.
        const QByteArray before = "; station file\r\n"
                                  "[ACL3]\r\n"
                                  "ConnectMode = 2\r\n"
                                  "Other=\xb4\xfa\xb8\xd5\r\n"
                                  "\r\n"
                                  "[Load1 Option]\r\n"
                                  "PORT=4001\r\n"
                                  "IP=10.0.0.5\r\n";
        writeFile(path, before);
        QVERIFY(WriteIniString(path, "acl3", "connectmode", "0"));
        QByteArray expected = before;
        expected.replace("ConnectMode = 2", "ConnectMode = 0");
        QCOMPARE(readFile(path), expected);

        // "Port" written addresses the key read as "PORT".
        QVERIFY(WriteIniString(path, "Load1 Option", "Port", "5025"));
        expected.replace("PORT=4001", "PORT=5025");
        QCOMPARE(readFile(path), expected);
        QCOMPARE(ReadIniString(path, "Load1 Option", "PORT", ""), QStringLiteral("5025"));
    }

    void write_addsKeysAtTheEndOfTheirSectionAndNewSectionsAtTheEnd()
    {
        const QString path = file(QStringLiteral("add.ini"));
        writeFile(path, "[A]\r\nx=1\r\n\r\n[B]\r\ny=2");
        IniFile ini(path);
        QVERIFY(ini.load());
        ini.write("A", "z", "3");
        ini.write("B", "w", "4");
        ini.write("C", "v", "5");
        QVERIFY(ini.save());
        QCOMPARE(readFile(path),
                 QByteArray("[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\nw=4\r\n[C]\r\nv=5\r\n"));
    }

    void write_followsTheFilesLineEndings()
    {
        const QString path = file(QStringLiteral("lf.ini"));
        writeFile(path, "[A]\nx=1\n");
        QVERIFY(WriteIniString(path, "A", "y", "2"));
        QCOMPARE(readFile(path), QByteArray("[A]\nx=1\ny=2\n"));
    }

    void write_createsFileAndPassesTextThrough()
    {
        const QString path = file(QStringLiteral("new.ini"));
        const QString chinese = QStringLiteral("INI檔 所有檔案");
        QVERIFY(WriteIniString(path, "S", "k", chinese));
        QCOMPARE(readFile(path), QByteArray("[S]\r\nk=") + chinese.toUtf8() + "\r\n");
        QCOMPARE(ReadIniString(path, "S", "k", ""), chinese);
    }

    void save_writesNothingWhenNothingChanged()
    {
        const QString path = file(QStringLiteral("same.ini"));
        writeFile(path, "[A]\nk=v\n");
        IniFile ini(path);
        QVERIFY(ini.load());
        ini.write("a", "K", "v");
        QVERIFY(!ini.isModified());
    }

    void save_failureKeepsTheOldFile()
    {
        const QString path = file(QStringLiteral("fail.ini"));
        writeFile(path, "[A]\nk=old\n");
        IniFile ini(path);
        QVERIFY(ini.load());
        ini.write("A", "k", "new");
        setAtomicWriteFaultForTesting(AtomicWriteFault::Rename);
        QString error;
        const bool saved = ini.save(&error);
        setAtomicWriteFaultForTesting(AtomicWriteFault::None);
        QVERIFY(!saved);
        QVERIFY(!error.isEmpty());
        QCOMPARE(readFile(path), QByteArray("[A]\nk=old\n"));
        QVERIFY(ini.isModified());
    }

    void manyKeys_areServedFromOneRead()
    {
        // A program of 1500 steps has 15000 keys; each is found through the index.
        const QString path = file(QStringLiteral("big.ini"));
        IniFile writer(path);
        QVERIFY(writer.load());
        for (int s = 1; s <= 1500; ++s)
            for (int k = 0; k < 10; ++k)
                writer.write(QStringLiteral("Step%1").arg(s), QStringLiteral("K%1").arg(k),
                             QString::number(s * 10 + k));
        QVERIFY(writer.save());
        IniFile reader(path);
        QVERIFY(reader.load());
        QCOMPARE(reader.read("step1500", "k9", ""), QStringLiteral("15009"));
        QCOMPARE(reader.read("Step750", "K0", ""), QStringLiteral("7500"));
    }
};

ACL3_TEST_MAIN(IniFileTest)
#include "tst_inifile.moc"
