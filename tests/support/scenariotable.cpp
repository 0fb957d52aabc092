#include "scenariotable.h"

#include <QFile>
#include <QMap>

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
        else if (kind == QLatin1String("run"))
            runs.append(scenario);
    }
    return runs;
}
