#pragma once

#include <QString>
#include <QStringList>

// The vendor folder "Tarnwick" below the machine-wide ProgramData directory
// holds the data file and the log file.

// The vendor folder below the first location that contains "ProgramData"
// (case-sensitive), or an empty string when none does.
QString vendorFolderIn(const QStringList &locations);

// The vendor folder among Qt's generic data locations; logs
// "Utils: Can't find log data path!" and returns "" when there is none.
QString dataFolderPath();

// The same folder; logs "Utils: Can't find 'ProgramData' path!" on failure.
QString vendorFolderPath();

// The data file dns.dat in the vendor folder, with native separators.
QString dnsDataFilePath();
