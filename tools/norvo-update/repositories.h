#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One apt repository found in an update source.
struct Repository
{
    QString source; // the source as given on the command line
    QString uri; // what apt reads, unencoded: copy:/directory for local ones, the address otherwise
    QString localRoot; // the directory holding dists/ and pool/; empty for network ones
    QString suite; // the directory under dists/
    QString codename;
    QStringList components;
    bool trusted = false;

    QString sourcesLine() const;
};

// A URI as a sources line needs it: percent-encoded, so that it is one word.
QString encodedUri(const QString& uri);
// An address as it may be shown and logged: without a password.
QString withoutPassword(const QString& address);
// The address's login in the form of apt's auth.conf; empty when it has no password.
QString loginLine(const QString& address);

// The fields of a Release (or InRelease) file that tell what a suite is.
struct ReleaseInfo
{
    QString codename;
    QStringList components;
};
ReleaseInfo parseRelease(const QByteArray& text);

// Repositories of a local directory (a mounted image, a file: address): its own dists/*/Release,
// or, when it has none, those of its immediate subdirectories.
QList<Repository> findLocalRepositories(const QString& source, const QString& root);

// Repositories of an http, https or ftp address for this system's release: the suites, named after
// its codename or listed in the address's dists/ index, whose Codename is the system's or its
// -updates or -security companion; each codename once. Throws a Failure when no server answers.
QList<Repository> findNetworkRepositories(
    const QString& address, const QString& systemCodename, const QString& workDirectory);

// The distribution's main repository: the component "main" for this system's codename.
bool isMainRepository(const Repository& repository, const QString& systemCodename);
