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

// True when the vendor folder may be used: it is missing (the Logger creates
// it, protected) or a plain folder that is, or has now been made, the tool's
// own (protectExistingFolder). A link or junction is never used, since
// whoever made it chooses where it leads; it and a folder that cannot be
// made the tool's own are refused with a warning.
bool isTrustedVendorFolder(const QString &folder);

// The data file dns.dat in the vendor folder, with native separators; empty,
// so that there is no data file, when the vendor folder is not trusted.
QString dnsDataFilePath();
