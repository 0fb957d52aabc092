#pragma once

#include <QString>

// The tools write whole lines and flush each at once: their output is read live, line by line,
// through a pipe.
void say(const QString& line);
void complain(const QString& line);

// A size for a message: whole megabytes, or kilobytes below one megabyte, where megabytes would
// read 0. A size needed is rounded up, a size free down, so that the two never look equal when
// one does not fit the other.
enum class Rounding
{
    up,
    down
};
QString sizeText(qint64 bytes, Rounding rounding);
