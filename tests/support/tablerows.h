#pragma once

#include <QtTest>

#include <iterator>

// A test's cases as a table of structs, each named by its `what`: one data row
// per case, and the case of the running row.
template <typename Table> void addTableRows(const Table &table)
{
    QTest::addColumn<int>("row");
    int row = 0;
    for (const auto &entry : table)
        QTest::newRow(QByteArray(entry.what).constData()) << row++;
}

template <typename Table> auto currentRow(const Table &table)
{
    QFETCH(int, row);
    return *std::next(std::begin(table), row);
}
