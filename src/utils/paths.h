#pragma once

#include <QString>
#include <QStringList>

// The vendor folder "Tarnwick" below the machine-wide ProgramData folder
// holds the data file, the run lock and the log file (vendorfolder.h).

// The machine-wide ProgramData folder, with '/' as separator, or "" when the
// system names none. On Windows the known folder FOLDERID_ProgramData,
// wherever it was moved; on the simulated machine programDataIn(Qt's generic
// data locations).
QString programDataFolder();

// The first of `locations` that contains "ProgramData" (case-sensitive), or
// "" when none does (simulated machine).
QString programDataIn(const QStringList &locations);

// The vendor folder below programDataFolder(); logs
// "Utils: Can't find 'ProgramData' path!" and returns "" when there is none.
QString vendorFolderPath();
