#pragma once

#include <QString>

// Desktop integration of the program: its identity and its translations.

// Sets the program's version, display name and organisation, so that QSettings keeps the
// settings in the user's configuration directory.
void kivInit(const char* version, const char* displayName);

// The program's name as the user sees it in titles.
QString kivAppDescription();
