#pragma once

#include <QStringList>

// What a run is started with, as the setup screen has it.
struct LaunchChoices
{
    bool expertMode = false;
    bool useRepo = false;
    bool keepSources = false;
    bool gost = false;
    bool md5 = false;
    bool noMainRepo = false;
    // The newest kernel is asked for and is the administrator's to choose.
    bool latestKernel = false;
    // In simple mode: checksum files of each kind lie beside the images.
    bool gostFilesFound = false;
    bool md5FilesFound = false;
    QStringList sources;
    // No source but ftp addresses (or none at all): no checksum or keep option applies.
    bool onlyFtpSources = false;
};

// The update tool's arguments for a run: "-A", the options, the sources.
QStringList launchArguments(const LaunchChoices& choices);
// The part of them the option check boxes give, in expert mode.
QStringList launchOptionArguments(const LaunchChoices& choices);
