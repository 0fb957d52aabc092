#pragma once

#include <QString>

class QRect;
class QSettings;
class QWidget;

// The program's help window and the geometry its windows keep between runs.

// Opens the help window at topic, an anchor of the help page; empty for its beginning.
void kivHelpShow(const QString& topic);

// Stores the widget's geometry in settings; withPosition keeps its place on the screen as well as
// its size.
void kivSaveGeometry(const QWidget* widget, QSettings* settings, bool withPosition);

// Applies the geometry stored for the widget, or defaultGeometry when none is stored and it is
// valid; without withPosition only the stored size is applied.
void kivRestoreGeometry(
    QWidget* widget, QSettings* settings, const QRect& defaultGeometry, bool withPosition);
