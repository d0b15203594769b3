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

// main() of a test: the environment fixed, then `App`, then `setUp` (statements), then the test.
#define ACL3_QTEST_MAIN(App, TestClass, setUp)                                                     \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        fixTestEnvironment();                                                                      \
        App app(argc, argv);                                                                       \
        setUp TestClass test;                                                                      \
        return QTest::qExec(&test, argc, argv);                                                    \
    }

#define ACL3_TEST_MAIN(TestClass) ACL3_QTEST_MAIN(QCoreApplication, TestClass, )
