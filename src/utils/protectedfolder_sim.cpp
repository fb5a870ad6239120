// The simulated machine has no owners or access lists: a folder is only
// created.
#include "protectedfolder.h"

#include <QDir>

bool makeProtectedFolder(const QString &path)
{
    return QDir().mkpath(path);
}

bool protectExistingFolder(const QString &)
{
    return true;
}
