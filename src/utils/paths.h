#pragma once

#include <QString>
#include <QStringList>

// The vendor folder "Tarnwick" below the machine-wide ProgramData directory
// holds the data file, the run lock and the log file (vendorfolder.h).

// The vendor folder below the first location that contains "ProgramData"
// (case-sensitive), or an empty string when none does.
QString vendorFolderIn(const QStringList &locations);

// The vendor folder among Qt's generic data locations; logs
// "Utils: Can't find 'ProgramData' path!" and returns "" when there is none.
QString vendorFolderPath();
