#include "LinkTestSupport.h"

#include "links/LinkLayer.h"

#include <QTest>

void addReplyFramingRows(const QString& unterminated)
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("rest"); // written 20 ms later
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR LF") << QByteArray("12.5\r\n") << QByteArray() << QStringLiteral("12.5");
    QTest::newRow("LF") << QByteArray("12.5\n") << QByteArray() << QStringLiteral("12.5");
    QTest::newRow("no terminator") << QByteArray("12.5") << QByteArray() << unterminated;
    QTest::newRow("one character") << QByteArray("7") << QByteArray() << kErrRec;
    QTest::newRow("one character and LF")
        << QByteArray("7\n") << QByteArray() << QStringLiteral("7");
    QTest::newRow("nothing") << QByteArray() << QByteArray() << kErrRec;
    QTest::newRow("in two pieces")
        << QByteArray("3.1") << QByteArray("25\r\n") << QStringLiteral("3.125");
    QTest::newRow("CR inside stays")
        << QByteArray("A\rB\n") << QByteArray() << QStringLiteral("A\rB");
}
