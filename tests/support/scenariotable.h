#pragma once

#include <QStringList>

// Adds the runs of a table in tests/testdata as the rows of the current test's data, with a
// QStringList column for each key named: the values of that key's lines in the run, as written. A
// line of any other key fails the test.
//
// A table is paragraphs parted by blank lines, each a "run NAME" or a "group NAME" followed by its
// lines, in which "use NAME" inserts the lines of a group given before. "define NAME TEXT" makes
// {NAME} stand for TEXT from there on; a line starting with # is a comment.
void addRows(const QString& fileName, const QStringList& keys);

// Texts of a table with "\n" and "\r" read as a line feed and a carriage return.
QStringList unescaped(QStringList texts);
