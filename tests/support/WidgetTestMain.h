#pragma once

#include "support/TestMain.h"

#include <QApplication>

// Widget tests run with a QApplication, in UTC, with the C locale and the Fusion style.
#define ACL3_WIDGET_TEST_MAIN(TestClass)                                                           \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        fixTestEnvironment();                                                                      \
        QApplication app(argc, argv);                                                              \
        QApplication::setStyle(QStringLiteral("Fusion"));                                          \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
