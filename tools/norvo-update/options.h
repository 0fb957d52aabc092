#pragma once

#include <QString>
#include <QStringList>

// What one command line of the update tool asks for.
struct Options
{
    enum class TimerSwitch
    {
        None,
        Disable,
        Enable
    };

    bool nonInteractive = false; // -A
    bool simulate = false; // -n
    bool systemRepositories = false; // -r
    bool keepSources = false; // -k
    bool gostCheck = false; // -g
    bool md5Check = false; // -m
    bool noMainRepository = false; // -T
    bool latestKernel = false; // -K
    QString onlyPackage; // -p PACKAGE
    TimerSwitch timerSwitch = TimerSwitch::None; // -d, -e
    bool history = false; // --history [ID]
    QString historyId; // empty: every run
    QString rollback; // --rollback ID|last
    bool alsoOthers = false; // --also-others: a rollback may change packages its update did not
    bool json = false; // --json: the run's record alone on standard output
    QStringList sources; // image paths and repository addresses, in order
};

// Reads the arguments (without the program name). Options and sources may come in any order.
// On a bad command line returns false with the reason in error.
bool parseOptions(const QStringList& arguments, Options* options, QString* error);

QString usage();
