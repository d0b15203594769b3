#pragma once

#include <QCoreApplication>
#include <QLocale>
#include <QtTest>

#include <cstdlib>
#include <ctime>

// Every test runs in UTC with the C locale, whatever the machine is set to.
inline void fixTestEnvironment()
{
    qputenv("TZ", "UTC");
    ::tzset();
    QLocale::setDefault(QLocale::c());
}

#define ACL3_TEST_MAIN(TestClass)                                                                  \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        fixTestEnvironment();                                                                      \
        QCoreApplication app(argc, argv);                                                          \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
