#pragma once

#include <initializer_list>
#include <utility>

#include <QTest>

namespace testsupport {

// A data table of one column: `column`, of type T, and one row for each name and value.
template <typename T>
void addRows(const char *column, std::initializer_list<std::pair<const char *, T>> rows) {
    QTest::addColumn<T>(column);
    for (const auto &[name, value] : rows)
        QTest::newRow(name) << value;
}

} // namespace testsupport
