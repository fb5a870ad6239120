#pragma once

#include <QObject>

// For a QML front-end that shares the Logger: opens the log folder in the
// desktop's file manager. It needs Qt Gui, which the command-line tool, run
// elevated, neither needs nor loads: the tool does not link this library.
class LogFolderOpener : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens the folder of the Logger's log file; a warning when the desktop
    // cannot open it (also before logging is set up).
    Q_INVOKABLE void openLogFolder();
};
