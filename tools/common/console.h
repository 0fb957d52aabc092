#pragma once

#include <QString>

// The tools write whole lines and flush each at once: their output is read live, line by line,
// through a pipe.
void say(const QString& line);
void complain(const QString& line);
