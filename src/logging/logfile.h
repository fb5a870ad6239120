#pragma once

#include <QFile>
#include <QString>

// Opens the log file at `path` for writing at its end, creating it when
// missing. Runs that overlap (one waiting for the other's run lock) write
// into the same file, so every write must land at the end of the file as it
// is then, never at an end that another process has moved since: on POSIX an
// O_APPEND file; on Windows a handle with append access only, since Qt's
// own append mode there only seeks to the end once, at opening.
bool openLogFileForAppending(QFile &file, const QString &path);
