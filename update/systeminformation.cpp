#include "systeminformation.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>

#include "helpercommand.h"
#include "mode.h"
#include "rootfilesystem.h"

QString SystemInformation::text() const
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

QString SystemInformation::systemVersion()
{
    const QStringList command = QProcess::splitCommand(QStringLiteral("lsb_release -r"));
    const KivAdmin::HelperResult lsbRelease = KivAdmin::runHelper(command.first(), command.mid(1));
    QString release = lsbRelease.output.isNull() ? QString() : QString::fromLocal8Bit(lsbRelease.output);
    release = release.remove(QStringLiteral("Release:")).trimmed();

    QString level;
    QString edition;
    switch (KivAdmin::Mode::currentLevel()) {
    case KivAdmin::Mode::SecurityLevel::Advanced:
        level = tr("Advanced");
        edition = tr("Brisvan");
        break;
    case KivAdmin::Mode::SecurityLevel::Maximum:
        level = tr("Maximum");
        edition = tr("Kaldemor");
        break;
    case KivAdmin::Mode::SecurityLevel::Base:
        level = tr("Base");
        edition = tr("Ulmet");
        break;
    }
    return tr("Norvo Linux %1\n%2 %3, «%4»\n").arg(release, level, tr("security level"), edition);
}

QString SystemInformation::installedUpdateInfo()
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

QString SystemInformation::bulletinNumber(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral(".*№\\s(?<number>\\S*)\\s"));
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(QStringLiteral("number")) : QString();
}

void SystemInformation::rememberBeforeRun()
{
    m_bulletinBeforeRun = bulletinNumber(installedUpdateInfo());
}

QString SystemInformation::bulletinBeforeRun() const
{
    return m_bulletinBeforeRun;
}
