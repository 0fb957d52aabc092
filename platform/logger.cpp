#include "logger.h"

#include <QDateTime>
#include <QFile>

Logger::Logger(const QString& path, int level)
    : m_path(path)
    , m_level(level)
{ }

bool Logger::write(const QString& message) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    const QString line
        = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') + message + QLatin1Char('\n');
    return file.write(line.toUtf8()) != -1;
}
