#pragma once

#include <QByteArray>
#include <QString>

// A regular file's contents; nothing for anything else, which is never waited for: a FIFO that
// anyone who owns a source's folder can put at an image's, a checksum file's or a Release file's
// name would block the tool in open() for ever, deaf to a stop.
QByteArray readRegularFile(const QString& path);
