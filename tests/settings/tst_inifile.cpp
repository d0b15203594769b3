// Protects the INI files: what a read finds, and that a write changes one value and no other byte.
#include "common/AtomicFile.h"
#include "settings/IniFile.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "support/UiSupport.h"

#include <QTemporaryDir>

class IniFileTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString file(const QString& name) { return dir.filePath(name); }

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value"); // "dflt" when the default is given
        const auto row = [](const char* name, const QByteArray& content, const char* section,
                            const char* key, const QString& value) {
            QTest::newRow(name) << content << QString::fromLatin1(section)
                                << QString::fromLatin1(key) << value;
        };
        const QByteArray crlf = "[TestStep Option]\r\nTotalStepCount=12\r\n[A]\r\nk=1\r\n";
        row("missing section", crlf, "B", "k", "dflt");
        row("missing key", crlf, "A", "other", "dflt");
        row("names without regard to case", crlf, "teststep option", "TOTALSTEPCOUNT", "12");
        row("blanks trimmed", "[A]\n  k  =  v w  \n", "A", "k", "v w");
        row("comment skipped, first duplicate taken",
            "; k=0\n[A]\n;k=commented\nk=first\nk=second\n", "A", "k", "first");
        row("value holding =", "[A]\nexpr=a=b\n", "A", "expr", "a=b");
        row("value cut at 254", "[A]\nk=" + QByteArray(300, 'x') + "\n", "A", "k",
            QString(254, u'x'));
        row("value of 254 whole", "[A]\nk=" + QByteArray(254, 'y'), "A", "k", QString(254, u'y'));
        row("byte order mark, CR only", "\xEF\xBB\xBF[A]\rk=1\r", "A", "k", "1");
        row("LF only, a blank line first", "\n[A]\nj=0\nk=1\n", "A", "k", "1");
        row("key before any section is none", "k=1\n[A]\n", "A", "k", "dflt");
    }
    void read()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        const QString path = file(QStringLiteral("read.ini"));
        writeFile(path, content);
        QCOMPARE(ReadIniString(path, section, key, "dflt"), value);
    }

    void read_missingFileGivesTheDefaultCutAt254()
    {
        QCOMPARE(ReadIniString(file("none.ini"), "A", "k", "dflt"), QStringLiteral("dflt"));
        QCOMPARE(ReadIniString(file("none.ini"), "A", "k", QString(300, u'd')).size(), 254);
    }

    void write_replacesOneValueAndKeepsEveryOtherByte()
    {
        const QString path = file(QStringLiteral("keep.ini"));
        // Comments, blank lines, odd spacing, mixed case, bytes that are not UTF-8.
        const QByteArray before = "; station file\r\n[ACL3]\r\nConnectMode = 2\r\n"
                                  "Other=\xb4\xfa\xb8\xd5\r\n\r\n[Load1 Option]\r\nPORT=4001\r\n";
        writeFile(path, before);
        QVERIFY(WriteIniString(path, "acl3", "connectmode", "0"));
        // "Port" written addresses the key read as "PORT".
        QVERIFY(WriteIniString(path, "Load1 Option", "Port", "5025"));
        QByteArray expected = before;
        expected.replace("ConnectMode = 2", "ConnectMode = 0").replace("PORT=4001", "PORT=5025");
        QCOMPARE(readFile(path), expected);
    }

    void write_addsKeysAtTheEndOfTheirSectionWithTheFilesLineEndings_data()
    {
        addColumns({"before", "after"}); // before: none for a new file; text passes through
        addRows({"CRLF, last line unended;[A]\r\nx=1\r\n\r\n[B]\r\ny=2;[A]\r\nx=1\r\nz=3\r\n\r\n["
                 "B]\r\ny=2\r\nw=4\r\n[C]\r\nv=檔案\r\n",
                 "LF;[A]\nx=1\n[B]\n;[A]\nx=1\nz=3\n[B]\nw=4\n[C]\nv=檔案\n",
                 "byte order mark, "
                 "CR;\xEF\xBB\xBF[A]\rx=1\r;\xEF\xBB\xBF[A]\rx=1\rz=3\r[B]\rw=4\r[C]\rv=檔案\r",
                 "LF, a blank line first;\n[A]\nx=1\n;\n[A]\nx=1\nz=3\n[B]\nw=4\n[C]\nv=檔案\n",
                 "new file;;[A]\r\nz=3\r\n[B]\r\nw=4\r\n[C]\r\nv=檔案\r\n"});
    }
    void write_addsKeysAtTheEndOfTheirSectionWithTheFilesLineEndings()
    {
        QFETCH(QString, before);
        QFETCH(QString, after);
        const QString path = file(QStringLiteral("add.ini"));
        QFile::remove(path);
        if (!before.isEmpty())
            writeFile(path, before.toUtf8());
        IniFile ini(path);
        ini.load();
        ini.write("A", "z", "3");
        ini.write("B", "w", "4");
        ini.write("C", "v", QStringLiteral("檔案"));
        QVERIFY(ini.save());
        QCOMPARE(readFile(path), after.toUtf8());
    }

    void save_writesNothingUnchanged_andAFailureKeepsTheOldFile()
    {
        const QString path = file(QStringLiteral("fail.ini"));
        writeFile(path, "[A]\nk=old\n");
        IniFile ini(path);
        QVERIFY(ini.load());
        ini.write("a", "K", "old");
        QVERIFY(!ini.isModified());
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
};

ACL3_TEST_MAIN(IniFileTest)
#include "tst_inifile.moc"
