// space_calculator: how many gigabytes an LVM snapshot of the root needs to hold the changes of
// the coming update. Its last line is that whole number.
//
// A snapshot holds a copy of every block the update writes: the downloaded archives and the files
// they unpack (the new versions' installed size). The sum gets a margin of one half for dpkg's
// temporary copies, its database and the logs, and is rounded up to whole gigabytes, at least 1.

#include <cmath>

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include "console.h"
#include "helpercommand.h"

namespace {

constexpr double safetyFactor = 1.5;
constexpr double bytesPerGigabyte = 1024.0 * 1024.0 * 1024.0;

// "Inst name [old] (new ...)" lines of a simulated upgrade, as name=new for apt-cache.
QStringList pendingVersions(const QByteArray& simulation)
{
    static const QRegularExpression inst(
        QStringLiteral("^Inst (\\S+) (?:\\[[^\\]]*\\] )?\\((\\S+) "), QRegularExpression::MultilineOption);
    QStringList versions;
    QRegularExpressionMatchIterator it = inst.globalMatch(QString::fromUtf8(simulation));
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        versions << match.captured(1) + QLatin1Char('=') + match.captured(2);
    }
    return versions;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    // apt reads its language from the environment; the figures are read in its untranslated form.
    qputenv("LC_ALL", "C");
    qunsetenv("LANGUAGE");

    const KivAdmin::HelperResult simulation = KivAdmin::runHelper(QStringLiteral("apt-get"),
        {QStringLiteral("-s"), QStringLiteral("-q"), QStringLiteral("-o"),
            QStringLiteral("Debug::NoLocking=1"), QStringLiteral("dist-upgrade")});
    const QStringList versions = pendingVersions(simulation.output);
    if (!simulation.succeeded())
        complain(QStringLiteral(
            "space_calculator: apt-get could not simulate the upgrade; assuming the smallest snapshot"));

    qint64 downloadBytes = 0;
    qint64 installedBytes = 0;
    if (!versions.isEmpty()) {
        const KivAdmin::HelperResult records = KivAdmin::runHelper(QStringLiteral("apt-cache"),
            QStringList {QStringLiteral("show"), QStringLiteral("--no-all-versions")} + versions);
        for (const QByteArray& line : records.output.split('\n')) {
            if (line.startsWith("Size: "))
                downloadBytes += line.mid(6).trimmed().toLongLong();
            else if (line.startsWith("Installed-Size: "))
                installedBytes += line.mid(16).trimmed().toLongLong() * 1024;
        }
    }

    const double needed = std::ceil(safetyFactor * double(downloadBytes + installedBytes) / bytesPerGigabyte);
    say(QStringLiteral("Packages to change: %1").arg(versions.size()));
    say(QStringLiteral("Download: %1 bytes, installed size: %2 bytes, margin: x%3")
            .arg(downloadBytes)
            .arg(installedBytes)
            .arg(safetyFactor));
    say(QString::number(std::max(1, int(needed))));
    return 0;
}
