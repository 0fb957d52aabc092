#include "xfssnapshot.h"

#include <QFile>
#include <QFileInfo>

XfsSnapshot::XfsSnapshot(const QString& name, const QString& device)
    : Snapshot(name, device, 0)
{ }

QString XfsSnapshot::dumpFilePath() const
{
    return QStringLiteral("/var/tmp/%1.bin").arg(m_name);
}

double XfsSnapshot::size() const
{
    const QFileInfo dump(dumpFilePath());
    return dump.exists() ? double(dump.size()) / 1024.0 / 1024.0 / 1024.0 : 0.0;
}

bool XfsSnapshot::exists()
{
    return QFile::exists(dumpFilePath());
}

void XfsSnapshot::create()
{
    const QString dump
        = QStringLiteral("xfsdump -l 0 -L session_norvo -M tape_norvo -f %1 /").arg(dumpFilePath());
    emit created(execute(QStringLiteral("bash -c \"") + dump + QLatin1Char('"')));
}

Snapshot::ErrorCode XfsSnapshot::remove()
{
    return QFile::remove(dumpFilePath()) ? Success : Error;
}

Snapshot::ErrorCode XfsSnapshot::restore()
{
    return execute(QStringLiteral("xfsrestore -f %1 /").arg(dumpFilePath()));
}
