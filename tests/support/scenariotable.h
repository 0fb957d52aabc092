#pragma once

#include <QByteArray>
#include <QMap>
#include <QMetaType>
#include <QStringList>
#include <QTest>

// A run of a table: for each key, the values of its lines in the run as written, and where in the
// table the run and each key's first line stand.
class Row
{
public:
    QStringList operator[](const QString& key) const { return m_values.value(key); }
    bool contains(const QString& key) const { return m_values.contains(key); }
    // The table's path, for QTest's failure location.
    const char* file() const { return m_file.constData(); }
    // The line of the key's first line in the run, or of the run's head without one.
    int line(const QString& key) const { return m_lines.value(key, m_head); }

private:
    friend void addRows(const QString&, const QStringList&, const QStringList&, const QStringList&);
    QMap<QString, QStringList> m_values;
    QMap<QString, int> m_lines;
    QByteArray m_file;
    int m_head = 0;
};
Q_DECLARE_METATYPE(Row)

// Adds the runs of a table in tests/testdata as the rows of the current test's data, each in the
// column "row" (read with QFETCH(const Row, row)). The grammar is in tests/testdata/README.md: a
// line whose key is not among setupKeys and expectKeys, a group line that is not set-up, a {NAME}
// no define and none of filledLater (written "{NAME}") stands for, or a blank at a line's end fails
// the test, naming the table's file and line.
void addRows(const QString& fileName, const QStringList& setupKeys, const QStringList& expectKeys,
    const QStringList& filledLater = {});

// Texts of a table with "\n" read as a line feed.
QStringList unescaped(QStringList texts);

// QCOMPARE of what a run did with what its table says under key: a failure shows both sides and
// points at the key's first line in the table.
#define COMPARE_RUN(actual, row, key, expected)                                                              \
    do {                                                                                                     \
        if (!QTest::qCompare(actual, expected, #actual, key, (row).file(), (row).line(key)))                 \
            return;                                                                                          \
    } while (false)

// QVERIFY2 for a fact of a run, pointing at the key's first line in the table.
#define VERIFY_RUN(condition, row, key, message)                                                             \
    do {                                                                                                     \
        if (!QTest::qVerify(static_cast<bool>(condition), #condition, qPrintable(message), (row).file(),     \
                (row).line(key)))                                                                            \
            return;                                                                                          \
    } while (false)
