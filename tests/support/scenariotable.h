#pragma once

#include <QList>
#include <QStringList>

// A run described in a table of tests/testdata: its name and its lines, groups used in it inserted.
struct Scenario
{
    QString name;
    QStringList lines;
};

// Reads a table: paragraphs parted by blank lines, each a "run NAME" or a "group NAME" followed by
// its lines, in which "use NAME" inserts the lines of a group given before. "define NAME TEXT" makes
// {NAME} stand for TEXT from there on; a line starting with # is a comment. Empty when the file
// cannot be read.
QList<Scenario> readScenarios(const QString& fileName);

// Adds the runs of a table as the rows of the current test's data, with a QStringList column for
// each key named: the values of that key's lines in the run, as written. A line of any other key
// fails the test.
void addRows(const QString& fileName, const QStringList& keys);

// Texts of a table with "\n" and "\r" read as a line feed and a carriage return.
QStringList unescaped(QStringList texts);
