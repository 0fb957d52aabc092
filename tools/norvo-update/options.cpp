#include "options.h"

#include <QRegularExpression>

namespace {

// A Debian package name and nothing else: apt would read "name-" as a removal, "name=1.0",
// "name/release" and "name:arch" as other requests, and "name*" as a pattern.
bool isPackageName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z0-9][a-z0-9+.-]+$"));
    return pattern.match(name).hasMatch() && !name.endsWith(QLatin1Char('-'));
}

} // namespace

bool parseOptions(const QStringList& arguments, Options* options, QString* error)
{
    Options parsed;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (!argument.startsWith(QLatin1Char('-')) || argument.size() == 1) {
            parsed.sources << argument;
            continue;
        }
        if (argument.size() != 2) {
            *error = QStringLiteral("unknown option %1").arg(argument);
            return false;
        }
        switch (argument.at(1).toLatin1()) {
        case 'A':
            parsed.nonInteractive = true;
            break;
        case 'n':
            parsed.simulate = true;
            break;
        case 'r':
            parsed.systemRepositories = true;
            break;
        case 'k':
            parsed.keepSources = true;
            break;
        case 'g':
            parsed.gostCheck = true;
            break;
        case 'm':
            parsed.md5Check = true;
            break;
        case 'T':
            parsed.noMainRepository = true;
            break;
        case 'K':
            parsed.latestKernel = true;
            break;
        case 'd':
            parsed.timerSwitch = Options::TimerSwitch::Disable;
            break;
        case 'e':
            parsed.timerSwitch = Options::TimerSwitch::Enable;
            break;
        case 'p':
            if (i + 1 == arguments.size() || arguments.at(i + 1).isEmpty()
                || arguments.at(i + 1).startsWith(QLatin1Char('-'))) {
                *error = QStringLiteral("-p needs the name of a package");
                return false;
            }
            parsed.onlyPackage = arguments.at(++i);
            if (!isPackageName(parsed.onlyPackage)) {
                *error = QStringLiteral(
                    "-p needs the name of a package (lower-case letters, digits, '+', '.' and '-'), not %1")
                             .arg(parsed.onlyPackage);
                return false;
            }
            break;
        default:
            *error = QStringLiteral("unknown option %1").arg(argument);
            return false;
        }
    }

    // The switch runs alone, around the application's own update.
    if (parsed.timerSwitch != Options::TimerSwitch::None && arguments.size() != 1) {
        *error = QStringLiteral("-d and -e take no other argument");
        return false;
    }
    if (parsed.systemRepositories && !parsed.sources.isEmpty()) {
        *error = QStringLiteral("-r uses the configured repositories and takes no sources");
        return false;
    }
    if (parsed.systemRepositories && (parsed.keepSources || parsed.gostCheck || parsed.md5Check)) {
        *error = QStringLiteral("-k, -g and -m apply to given sources, not to -r");
        return false;
    }
    if (parsed.timerSwitch == Options::TimerSwitch::None && !parsed.systemRepositories
        && parsed.sources.isEmpty()) {
        *error = QStringLiteral("no update sources given (ISO images or repository addresses, or -r)");
        return false;
    }
    *options = parsed;
    return true;
}

QString usage()
{
    return QStringLiteral(
        "Usage: norvo-update [-A] [-n] [-T] [-K] [-k] [-g] [-m] [-p PACKAGE] SOURCE...\n"
        "       norvo-update [-A] [-n] [-T] [-K] [-p PACKAGE] -r\n"
        "       norvo-update -d | -e\n"
        "SOURCE is an ISO image or a repository address (http, https, ftp or file).\n"
        "  -A  non-interactive: never ask, keep changed configuration files\n"
        "  -n  simulate only: show what would be installed, change nothing\n"
        "  -r  use the repositories configured in /etc/apt/sources.list and sources.list.d\n"
        "  -k  keep the sources in /var/cache/norvo-update/sources for later updates\n"
        "  -g  verify each image against its GOST R 34.11-2012 checksum file (.gost)\n"
        "  -m  verify each image against its MD5 checksum file (.md5)\n"
        "  -T  do not require the distribution's main repository among the sources\n"
        "  -K  also install the newest kernel metapackage\n"
        "  -p  upgrade only PACKAGE and what it needs\n"
        "  -d  disable the automatic update's timer (remembered until -e)\n"
        "  -e  enable the timer again if -d disabled it");
}
