#include "runlog.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// As Debian's own package-manager logs: root's, readable by the group adm; root's alone where
// there is no such group.
void makePrivate(int fd)
{
    const struct group* adm = ::getgrnam("adm");
    if (adm && ::fchown(fd, 0, adm->gr_gid) == 0)
        ::fchmod(fd, 0640);
    else
        ::fchmod(fd, 0600);
}

} // namespace

RunLog::RunLog(const QStringList& arguments)
{
    QDir().mkpath(QFileInfo(path()).path());
    note(QStringLiteral("started: norvo-update %1").arg(arguments.join(QLatin1Char(' '))));
}

void RunLog::note(const QString& event) const
{
    // A log that cannot be written must not stop an update. A link planted in its place is not
    // followed.
    const int fd = ::open(
        QFile::encodeName(path()).constData(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    makePrivate(fd);
    const QByteArray line = QStringLiteral("%1 [%2] %3\n")
                                .arg(QDateTime::currentDateTime().toString(Qt::ISODate))
                                .arg(QCoreApplication::applicationPid())
                                .arg(event)
                                .toUtf8();
    [[maybe_unused]] const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    ::close(fd);
}

QString RunLog::path()
{
    return QStringLiteral("/var/log/norvo-update/norvo-update.log");
}
