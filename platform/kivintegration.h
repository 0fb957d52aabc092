#pragma once

#include <QString>

class QRect;
class QSettings;
class QWidget;

// Desktop integration of the program: identity, help and window geometry.

// Sets the program's version, display name and organisation, so that QSettings keeps the
// settings in the user's configuration directory.
void kivInit(const char* version, const char* displayName);

// Opens the help window at topic, an anchor of the help page; empty for its beginning.
void kivHelpShow(const QString& topic);

// Stores the widget's geometry in settings; withPosition keeps its place on the screen as well as
// its size.
void kivSaveGeometry(const QWidget* widget, QSettings* settings, bool withPosition);

// Applies the geometry stored for the widget, or defaultGeometry when none is stored and it is
// valid; without withPosition only the stored size is applied.
void kivRestoreGeometry(
    QWidget* widget, QSettings* settings, const QRect& defaultGeometry, bool withPosition);

// The program's name as the user sees it in titles.
QString kivAppDescription();
