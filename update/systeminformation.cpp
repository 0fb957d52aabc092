// The system information panel's text, in the runner's translation context.

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include "helpercommand.h"
#include "mode.h"
#include "norvoupdate.h"
#include "rootfilesystem.h"

QString NorvoUpdate::systemInfo() const
{
    QString info = systemVersion();
    info += installedUpdateInfo();
    QString available = detectRootFileSystem().available();
    available.replace(QLatin1Char('T'), tr(" T"));
    available.replace(QLatin1Char('G'), tr(" G"));
    available.replace(QLatin1Char('M'), tr(" M"));
    available.replace(QLatin1Char('K'), tr(" K"));
    return info + tr("Available memory size: %1 (root partition)").arg(available);
}

QString NorvoUpdate::systemVersion()
{
    const QStringList command = QProcess::splitCommand(QStringLiteral("lsb_release -r"));
    const KivAdmin::HelperResult lsbRelease = KivAdmin::runHelper(command.first(), command.mid(1));
    QString release = lsbRelease.output.isNull() ? QString() : QString::fromLocal8Bit(lsbRelease.output);
    release = release.remove(QStringLiteral("Release:")).trimmed();

    QString level;
    QString edition;
    switch (KivAdmin::Mode::getCurrentMode()) {
    case 1:
        level = tr("Advanced");
        edition = tr("Brisvan");
        break;
    case 2:
        level = tr("Maximum");
        edition = tr("Kaldemor");
        break;
    default:
        level = tr("Base");
        edition = tr("Ulmet");
        break;
    }
    return tr("Norvo Linux %1\n%2 %3, «%4»\n").arg(release, level, tr("security level"), edition);
}

QString NorvoUpdate::installedUpdateInfo()
{
    QFile file(QStringLiteral("/etc/norvo_update_version"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
    const QString version = stream.readLine().remove(QStringLiteral("Update "));
    static const QRegularExpression bulletin(QStringLiteral(".*Bulletin\\s(?<number>.*)"));
    const QRegularExpressionMatch match = bulletin.match(stream.readLine());
    const QString number = match.hasMatch() ? match.captured(QStringLiteral("number")) : QString();
    return tr("Update %1 installed (BULLETIN № %2)\n").arg(version, number);
}
