#include "packagemanager.h"

#include <algorithm>

#include <QRegularExpression>

#include "helpercommand.h"

namespace KivAdmin {

namespace {

struct StatusLine
{
    QString abbreviation; // want and status letters, for example "ii"
    QString name;
    QString version;
};

QList<StatusLine> queryStatus(const QString& package)
{
    const HelperResult result = runHelper(QStringLiteral("dpkg-query"),
        {QStringLiteral("-W"), QStringLiteral("-f=${db:Status-Abbrev}\\t${Package}\\t${Version}\\n"),
            QStringLiteral("--"), package});
    QList<StatusLine> lines;
    // dpkg-query exits 1 when the package is unknown; nothing it printed then is of use.
    if (!result.succeeded())
        return lines;
    const QStringList rows
        = QString::fromLocal8Bit(result.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& row : rows) {
        const QStringList fields = row.split(QLatin1Char('\t'));
        if (fields.size() == 3)
            lines.append({fields.at(0).trimmed(), fields.at(1), fields.at(2)});
    }
    return lines;
}

} // namespace

bool PackageManager::isPackageInstalled(const QString& package, const QString& pattern)
{
    const QRegularExpression expression(
        QRegularExpression::anchoredPattern(pattern.arg(QRegularExpression::escape(package))));
    if (!expression.isValid())
        return false;
    const QList<StatusLine> lines = queryStatus(package);
    return std::any_of(lines.cbegin(), lines.cend(), [&expression](const StatusLine& line) {
        return expression.match(line.abbreviation + QLatin1Char(' ') + line.name).hasMatch();
    });
}

QStringList PackageManager::getInstalledPackagesVersions(const QString& package)
{
    // Every state but "not installed" and "config files only" leaves the package's files on disk,
    // so a half-configured package after a failed upgrade still reports the version it unpacked.
    static const QString absentStates = QStringLiteral("nc");
    QStringList versions;
    const QList<StatusLine> lines = queryStatus(package);
    for (const StatusLine& line : lines) {
        if (line.abbreviation.size() >= 2 && !absentStates.contains(line.abbreviation.at(1))
            && !line.version.isEmpty())
            versions.append(line.version);
    }
    return versions;
}

} // namespace KivAdmin
