#pragma once

#include <QHash>
#include <QList>
#include <QString>

// An image as the run reads it: where it was given, and the file that is hashed and mounted.
struct ImageInUse
{
    QString source; // as given on the command line
    QString path; // the image itself, or the run's private copy of it
};

// The file to hash and mount for an image that is checked: the image itself when only root can
// change it or any folder above it; otherwise a private copy in copyDirectory, so that what was
// hashed is what is installed. Throws a Failure when the image changes while it is copied.
ImageInUse imageToCheck(const QString& image, const QString& copyDirectory, int index);

// Compares every image's digests ("md5", "gost" or both) with their checksum files, several at a
// time (one per processor), saying when each check starts and ends. Throws a Failure at the first
// missing file or other digest. Returns the digests each source was verified against, as
// "md5:DIGEST" and "gost:DIGEST".
QHash<QString, QStringList> verifyImages(const QList<ImageInUse>& images, const QStringList& extensions);

// An image mounted read-only through a loop device for as long as the object lives.
class MountedImage final
{
public:
    MountedImage(const QString& image, const QString& mountPoint);
    ~MountedImage();
    MountedImage(const MountedImage&) = delete;
    MountedImage& operator=(const MountedImage&) = delete;

    QString mountPoint() const { return m_mountPoint; }

private:
    QString m_mountPoint;
};
