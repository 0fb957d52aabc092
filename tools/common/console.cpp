#include "console.h"

#include <cstdio>

namespace {

void writeLine(std::FILE* stream, const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void say(const QString& line)
{
    writeLine(stdout, line);
}

void complain(const QString& line)
{
    writeLine(stderr, line);
}

QString sizeText(qint64 bytes, Rounding rounding)
{
    const qint64 unit = bytes < 1000000 ? 1000 : 1000000;
    const qint64 count = rounding == Rounding::up ? (bytes + unit - 1) / unit : bytes / unit;
    return QStringLiteral("%1 %2").arg(count).arg(unit == 1000 ? QStringLiteral("KB") : QStringLiteral("MB"));
}
