#pragma once

#include <QString>

// Creates the folder with its missing parents. On Windows the folder itself
// gets a protected access list (SYSTEM and Administrators full control, Users
// read and execute): below ProgramData any user may create files by default,
// and this tool, run elevated, trusts what it reads there.
// True when the folder exists afterwards.
bool makeProtectedFolder(const QString &path);

// Makes an existing folder the tool's own. On Windows a folder that neither
// SYSTEM nor Administrators own gets Administrators as owner and the
// protected access list of makeProtectedFolder: any user may create a folder
// below ProgramData before the tool's first run. True when the folder is
// owned by SYSTEM or Administrators afterwards (always on the simulated
// machine, which has no owners).
bool protectExistingFolder(const QString &path);
