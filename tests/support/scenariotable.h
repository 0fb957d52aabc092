#pragma once

#include <QMap>
#include <QStringList>

// A run of a table: for each key, the values of its lines in the run, as written.
using Row = QMap<QString, QStringList>;

// Adds the runs of a table in tests/testdata as the rows of the current test's data, each in the
// column "row" (read with QFETCH(const Row, row)). A line of a key not among keys fails the test.
//
// A table is paragraphs parted by blank lines, each a "run NAME" or a "group NAME" followed by its
// lines, in which "use NAME" inserts the lines of a group given before. "define NAME TEXT" makes
// {NAME} stand for TEXT from there on; a line starting with # is a comment.
void addRows(const QString& fileName, const QStringList& keys);

// Texts of a table with "\n" and "\r" read as a line feed and a carriage return.
QStringList unescaped(QStringList texts);
