#include "LinkTestSupport.h"

#include "links/LinkLayer.h"

#include <QTest>

void addReplyFramingRows(const QString& unterminated)
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("expected");
    QTest::newRow("CR LF") << QByteArray("12.5\r\n") << QStringLiteral("12.5");
    QTest::newRow("LF") << QByteArray("12.5\n") << QStringLiteral("12.5");
    QTest::newRow("no terminator") << QByteArray("12.5") << unterminated;
    QTest::newRow("one character") << QByteArray("7") << kErrRec;
    QTest::newRow("one character and LF") << QByteArray("7\n") << QStringLiteral("7");
    QTest::newRow("nothing") << QByteArray() << kErrRec;
    QTest::newRow("CR inside stays") << QByteArray("A\rB\n") << QStringLiteral("A\rB");
}
