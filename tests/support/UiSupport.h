#pragma once

#include "testprogram/TestStep.h"

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

// A program file from steps written "a|b|c", the ten field values in key order, "-" for a key
// left out; `options` go into the option section and `tail` after the steps.
inline QByteArray programFile(const QStringList& steps, const QByteArray& options = {},
                              const QByteArray& tail = {})
{
    QByteArray out = "[TestStep Option]\r\n" + options +
                     "TotalStepCount=" + QByteArray::number(steps.size()) + "\r\n";
    for (int n = 0; n < steps.size(); ++n) {
        out += "[Step" + QByteArray::number(n + 1) + "]\r\n";
        const QStringList fields = steps[n].split(u'|');
        for (int f = 0; f < fields.size(); ++f) {
            if (fields[f] != QLatin1String("-"))
                out += kStepFieldKeys[f].toUtf8() + "=" + fields[f].toUtf8() + "\r\n";
        }
    }
    return out + tail;
}
