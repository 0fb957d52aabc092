#include "mode.h"

#include <QFile>

namespace KivAdmin {

const char* const Mode::configurationPath = "/etc/norvo_security_level";

int Mode::getCurrentMode()
{
    return readMode(QString::fromLatin1(configurationPath));
}

int Mode::readMode(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    bool ok = false;
    const int mode = QString::fromLocal8Bit(file.readLine(64)).trimmed().toInt(&ok, 10);
    return ok ? mode : 0;
}

Mode::SecurityLevel Mode::currentLevel()
{
    return levelOf(getCurrentMode());
}

Mode::SecurityLevel Mode::levelOf(int mode)
{
    switch (mode) {
    case 1:
        return SecurityLevel::Advanced;
    case 2:
        return SecurityLevel::Maximum;
    default:
        return SecurityLevel::Base;
    }
}

} // namespace KivAdmin
