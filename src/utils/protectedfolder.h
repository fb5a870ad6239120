#pragma once

#include <QString>

// Creates the folder with its missing parents. On Windows the folder itself
// gets a protected access list (SYSTEM and Administrators full control, Users
// read and execute): below ProgramData any user may create files by default,
// and this tool, run elevated, trusts what it reads there.
// True when the folder exists afterwards.
bool makeProtectedFolder(const QString &path);
