// The simulated machine has no access lists: the folder is only created.
#include "protectedfolder.h"

#include <QDir>

bool makeProtectedFolder(const QString &path)
{
    return QDir().mkpath(path);
}
