#include "scenariotable.h"

#include <QFile>
#include <QMap>
#include <QTest>

namespace {

// A run of a table: its name and its lines, groups used in it inserted.
struct Scenario
{
    QString name;
    QStringList lines;
};

// The runs of a table; none when the file cannot be read.
QList<Scenario> readScenarios(const QString& fileName)
{
    QFile file(QStringLiteral(KIV_TEST_DATA_DIR "/") + fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QMap<QString, QString> defines;
    QMap<QString, QStringList> groups;
    QList<Scenario> runs;
    for (const QString& paragraph : QString::fromUtf8(file.readAll()).split(QStringLiteral("\n\n"))) {
        QString kind;
        Scenario scenario;
        for (QString line : paragraph.split(QLatin1Char('\n'))) {
            for (auto define = defines.cbegin(); define != defines.cend(); ++define)
                line.replace(QLatin1Char('{') + define.key() + QLatin1Char('}'), define.value());
            const QString key = line.section(QLatin1Char(' '), 0, 0);
            const QString rest = line.section(QLatin1Char(' '), 1);
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            if (key == QLatin1String("define")) {
                defines.insert(rest.section(QLatin1Char(' '), 0, 0), rest.section(QLatin1Char(' '), 1));
            } else if (key == QLatin1String("run") || key == QLatin1String("group")) {
                kind = key;
                scenario.name = rest;
            } else if (key == QLatin1String("use")) {
                scenario.lines += groups.value(rest);
            } else {
                scenario.lines.append(line);
            }
        }
        if (kind == QLatin1String("group"))
            groups.insert(scenario.name, scenario.lines);
        else if (kind == QLatin1String("run") || !scenario.lines.isEmpty())
            runs.append(scenario); // lines without a head come as a run without a name
    }
    return runs;
}

} // namespace

void addRows(const QString& fileName, const QStringList& keys)
{
    QTest::addColumn<Row>("row");
    const QList<Scenario> table = readScenarios(fileName);
    if (table.isEmpty())
        QTest::qFail(qPrintable(fileName + QStringLiteral(" holds no runs")), __FILE__, __LINE__);
    for (const Scenario& run : table) {
        if (run.name.isEmpty())
            return QTest::qFail(
                qPrintable(fileName + QStringLiteral(": lines outside a run: ") + run.lines[0]), __FILE__,
                __LINE__);
        Row row;
        for (const QString& line : run.lines) {
            const QString key = line.section(QLatin1Char(' '), 0, 0);
            if (!keys.contains(key))
                return QTest::qFail(
                    qPrintable(run.name + QStringLiteral(": what is ") + line), __FILE__, __LINE__);
            row[key] << line.section(QLatin1Char(' '), 1);
        }
        QTest::newRow(qPrintable(run.name)) << row;
    }
}

QStringList unescaped(QStringList texts)
{
    return texts.replaceInStrings(QStringLiteral("\\n"), QStringLiteral("\n"))
        .replaceInStrings(QStringLiteral("\\r"), QStringLiteral("\r"));
}
