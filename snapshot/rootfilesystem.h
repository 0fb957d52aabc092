#pragma once

#include <QString>

// The file system mounted on "/", as df reports it.
class RootFileSystem final
{
public:
    RootFileSystem() = default;
    RootFileSystem(
        const QString& device, const QString& type, const QString& mountPoint, const QString& available);

    QString device() const { return m_device; }
    QString type() const { return m_type; }
    QString mountPoint() const { return m_mountPoint; }
    // Free space exactly as "df -h" prints it, for example "15G".
    QString available() const { return m_available; }
    // On a device-mapper device (an LVM volume among others).
    bool isLvm() const { return m_isLvm; }
    bool isValid() const { return m_isValid; }

private:
    QString m_device;
    QString m_type;
    QString m_mountPoint;
    QString m_available;
    bool m_isLvm = false;
    bool m_isValid = false;
};

// Reads the root file system from "df -T -h", waiting at most 30 s; an invalid value when df
// fails or lists no root.
RootFileSystem detectRootFileSystem();
