#include "checksumfile.h"

#include <QFileInfo>

namespace KivAdmin {

QString checksumFileFor(const QString& image, const QString& extension)
{
    QString path = image + QLatin1Char('.') + extension;
    if (QFileInfo::exists(path))
        return path;
    path.replace(QLatin1String(".iso."), QLatin1String("."));
    return QFileInfo::exists(path) ? path : QString();
}

} // namespace KivAdmin
