#pragma once

#include "support/TestMain.h"

#include <QApplication>

// Widget tests run with a QApplication and the Fusion style.
#define ACL3_WIDGET_TEST_MAIN(TestClass)                                                           \
    ACL3_QTEST_MAIN(QApplication, TestClass, QApplication::setStyle(QStringLiteral("Fusion"));)
