#include "scenariotable.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// A line of a table with its number, defines replaced.
struct Line
{
    int number;
    QString text;
};

// A paragraph: a run or a group, its head's line and its lines, groups used in it inserted.
struct Scenario
{
    QString kind;
    QString name;
    int head = 0;
    QList<Line> lines;
};

QString keyOf(const QString& text)
{
    return text.section(QLatin1Char(' '), 0, 0);
}

// The {NAME} a text still holds, empty when none. A shell's ${VARIABLE} is none of the table's.
QString unreplacedName(const QString& text)
{
    static const QRegularExpression name(QStringLiteral("(?<!\\$)\\{[A-Za-z][A-Za-z0-9%]*\\}"));
    return name.match(text).captured(0);
}

} // namespace

void addRows(const QString& fileName, const QStringList& setupKeys, const QStringList& expectKeys,
    const QStringList& filledLater)
{
    QTest::addColumn<Row>("row");
    const QByteArray path = QByteArray(KIV_TEST_DATA_DIR "/") + fileName.toUtf8();
    int number = 0;
    // The table's own faults are reported at their line.
    const auto fail = [&](const QString& what) { QTest::qFail(qPrintable(what), path.constData(), number); };
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(QStringLiteral("the table cannot be read"));

    QMap<QString, QString> defines;
    QMap<QString, QList<Line>> groups;
    int runs = 0;
    Scenario scenario;
    const auto endParagraph = [&]() {
        if (scenario.kind == QLatin1String("group"))
            groups.insert(scenario.name, scenario.lines);
        if (scenario.kind != QLatin1String("run"))
            return void(scenario = Scenario());
        Row row;
        row.m_file = path;
        row.m_head = scenario.head;
        for (const Line& line : qAsConst(scenario.lines)) {
            const QString key = keyOf(line.text);
            if (!row.m_lines.contains(key))
                row.m_lines.insert(key, line.number);
            row.m_values[key] << line.text.section(QLatin1Char(' '), 1);
        }
        QTest::newRow(qPrintable(scenario.name)) << row;
        ++runs;
        scenario = Scenario();
    };
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString text : lines) {
        ++number;
        if (text.trimmed().isEmpty()) {
            endParagraph();
            continue;
        }
        if (text.startsWith(QLatin1Char('#')))
            continue;
        if (text.endsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char('\t')))
            return fail(QStringLiteral("a blank ends the line: quote the text to keep it"));
        for (auto define = defines.cbegin(); define != defines.cend(); ++define)
            text.replace(QLatin1Char('{') + define.key() + QLatin1Char('}'), define.value());
        QString left = text;
        for (const QString& name : filledLater)
            left.remove(name);
        if (!unreplacedName(left).isEmpty())
            return fail(unreplacedName(left) + QStringLiteral(" stands for nothing"));
        const QString key = keyOf(text);
        const QString rest = text.section(QLatin1Char(' '), 1);
        if (key == QLatin1String("define")) {
            defines.insert(keyOf(rest), rest.section(QLatin1Char(' '), 1));
        } else if (key == QLatin1String("run") || key == QLatin1String("group")) {
            scenario.kind = key;
            scenario.name = rest;
            scenario.head = number;
        } else if (scenario.kind.isEmpty()) {
            return fail(QStringLiteral("a line outside a run or group: ") + text);
        } else if (key == QLatin1String("use")) {
            if (!groups.contains(rest))
                return fail(QStringLiteral("no group ") + rest + QStringLiteral(" before this line"));
            scenario.lines += groups.value(rest);
        } else if (!expectKeys.contains(key) && !setupKeys.contains(key)) {
            return fail(QStringLiteral("what is ") + key + QLatin1Char('?'));
        } else if (!setupKeys.contains(key) && scenario.kind == QLatin1String("group")) {
            return fail(
                QStringLiteral("a group only sets up; ") + key + QStringLiteral(" belongs in the run"));
        } else {
            scenario.lines.append({number, text});
        }
    }
    endParagraph();
    if (runs == 0)
        fail(QStringLiteral("the table holds no runs"));
}

QStringList unescaped(QStringList texts)
{
    return texts.replaceInStrings(QStringLiteral("\\n"), QStringLiteral("\n"));
}
