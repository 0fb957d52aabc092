#pragma once

#include <QString>

namespace KivAdmin {

// The checksum file ("md5" or "gost") beside an image: image.iso.EXT, else the name without .iso
// (cd.EXT for cd.iso); empty when there is neither. The window and the update tool look alike.
QString checksumFileFor(const QString& image, const QString& extension);

} // namespace KivAdmin
