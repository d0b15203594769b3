#pragma once

#include "support/TestSupport.h"

#include <QString>
#include <QStringList>
#include <QtTest>

#include <initializer_list>

// Adds QtTest rows written one a line as "name;column 1;column 2;...", every column a QString
// (declare them with addColumn<QString>). Keeps a table of many cases readable in a screenful.
inline void addRows(std::initializer_list<const char*> rows)
{
    for (const char* row : rows) {
        const QStringList cells = QString::fromUtf8(row).split(u';');
        QTestData& data = QTest::newRow(qPrintable(cells.first()));
        for (qsizetype i = 1; i < cells.size(); ++i)
            data << cells[i];
    }
}

// Declares QString columns by name.
inline void addColumns(std::initializer_list<const char*> names)
{
    for (const char* name : names)
        QTest::addColumn<QString>(name);
}
