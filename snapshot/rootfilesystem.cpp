#include "rootfilesystem.h"

#include <QRegularExpression>
#include <QStringList>

#include "helpercommand.h"

RootFileSystem::RootFileSystem(
    const QString& device, const QString& type, const QString& mountPoint, const QString& available)
    : m_device(device)
    , m_type(type)
    , m_mountPoint(mountPoint)
    , m_available(available)
    , m_isLvm(device.contains(QLatin1String("/dev/mapper/")))
    , m_isValid(true)
{ }

RootFileSystem detectRootFileSystem()
{
    const KivAdmin::HelperResult df
        = KivAdmin::runHelper(QStringLiteral("df"), {QStringLiteral("-T"), QStringLiteral("-h")});
    // A df still running at the deadline reads as a normal exit with code 0: what it printed so
    // far is parsed.
    if (df.exitStatus != QProcess::NormalExit || df.exitCode != 0)
        return RootFileSystem();

    QStringList lines = QString::fromLocal8Bit(df.output).split(QLatin1Char('\n'));
    lines.removeFirst();
    static const QRegularExpression rootLine(QRegularExpression::anchoredPattern(QStringLiteral(".*\\s/")));
    for (const QString& line : qAsConst(lines)) {
        if (!rootLine.match(line).hasMatch())
            continue;
        const QStringList columns = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        // A wrapped or truncated line lacks the available-space column: no root is known then.
        if (columns.size() < 5)
            return RootFileSystem();
        return RootFileSystem(columns.at(0), columns.at(1), columns.last(), columns.at(4));
    }
    return RootFileSystem();
}
