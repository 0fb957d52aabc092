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
        if (argument == QLatin1String("--also-others")) {
            parsed.alsoOthers = true;
            continue;
        }
        if (argument == QLatin1String("--json")) {
            parsed.json = true;
            continue;
        }
        if (argument == QLatin1String("--history")) {
            parsed.history = true;
            if (i + 1 < arguments.size() && !arguments.at(i + 1).startsWith(QLatin1Char('-')))
                parsed.historyId = arguments.at(++i);
            continue;
        }
        if (argument == QLatin1String("--rollback")) {
            if (i + 1 == arguments.size() || arguments.at(i + 1).startsWith(QLatin1Char('-'))) {
                *error = QStringLiteral("--rollback needs the id of a run from --history, or last");
                return false;
            }
            parsed.rollback = arguments.at(++i);
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

    // The journal is read alone; a rollback takes only -A and --json.
    if (parsed.json && (parsed.history || parsed.timerSwitch != Options::TimerSwitch::None)) {
        *error = QStringLiteral("--json goes with an update, a simulation or a rollback");
        return false;
    }
    if (parsed.alsoOthers && parsed.rollback.isEmpty()) {
        *error = QStringLiteral("--also-others goes with --rollback");
        return false;
    }
    const int optionWords = (parsed.json ? 1 : 0) + (parsed.alsoOthers ? 1 : 0);
    if (parsed.history && arguments.size() != (parsed.historyId.isEmpty() ? 1 : 2)) {
        *error = QStringLiteral("--history takes no other argument than the id of a run");
        return false;
    }
    if (!parsed.rollback.isEmpty() && arguments.size() != (parsed.nonInteractive ? 3 : 2) + optionWords) {
        *error = QStringLiteral("--rollback takes no other argument than -A, --json and --also-others");
        return false;
    }
    if (parsed.history || !parsed.rollback.isEmpty()) {
        *options = parsed;
        return true;
    }
    // The switch runs alone, around the application's own update.
    if (parsed.timerSwitch != Options::TimerSwitch::None && arguments.size() != 1 + optionWords) {
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
        "Usage: norvo-update [-A] [-n] [-T] [-K] [-k] [-g] [-m] [-p PACKAGE] [--json] SOURCE...\n"
        "       norvo-update [-A] [-n] [-T] [-K] [-p PACKAGE] [--json] -r\n"
        "       norvo-update -d | -e\n"
        "       norvo-update --history [ID]\n"
        "       norvo-update [-A] [--json] [--also-others] --rollback ID|last\n"
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
        "  -e  enable the timer again if -d disabled it\n"
        "  --history   list the runs that could change the system, newest last; with ID, show one\n"
        "  --json      at the end, the run's record alone on standard output; the rest on standard error\n"
        "  --rollback  return the packages a run changed to their versions before it (last: the newest update)\n"
        "  --also-others  let the rollback change or remove packages the update did not touch");
}
