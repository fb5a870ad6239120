#pragma once

#include <QString>

// Makes what the tool does and logs independent of Qt's configuration in the
// environment and in profiles. An elevated run inherits the person's own
// environment (HKCU\Environment), where QT_FATAL_WARNINGS would end a run at
// its first warning, QT_LOGGING_RULES and QT_MESSAGE_PATTERN would change the
// log, and QT_PLUGIN_PATH what is loaded.
//
// Removes every environment variable whose name begins with "QT_", in any
// letter case (Windows' names ignore it), and sets the tool's logging filter
// rules, which come after those of every qtlogging.ini. Call it in main
// before QCoreApplication exists. Other variables stay: the simulated machine
// needs its own.
void ignoreQtConfiguration();

// Removes the variable from the process's environment, which the commands
// the tool starts inherit: on Windows from the C runtime's copy, which
// qunsetenv changes, and from the process's own environment block, which
// _putenv leaves as it is.
void removeEnvironmentVariable(const QString &name);
