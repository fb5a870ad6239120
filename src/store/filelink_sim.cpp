// The simulated machine lives on a POSIX file system: a link is a symlink.
#include "filelink.h"

#include <QFileInfo>

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}
