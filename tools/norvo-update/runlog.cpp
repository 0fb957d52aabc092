#include "runlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

RunLog::RunLog(const QStringList& arguments)
{
    QDir().mkpath(QFileInfo(path()).path());
    note(QStringLiteral("started: norvo-update %1").arg(arguments.join(QLatin1Char(' '))));
}

void RunLog::note(const QString& event) const
{
    QFile file(path());
    // A log that cannot be written must not stop an update.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    const QString line = QStringLiteral("%1 [%2] %3\n")
                             .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                             .arg(QCoreApplication::applicationPid())
                             .arg(event);
    file.write(line.toUtf8());
}

QString RunLog::path()
{
    return QStringLiteral("/var/log/norvo-update/norvo-update.log");
}
