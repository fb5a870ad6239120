#include "logfile.h"

bool openLogFileForAppending(QFile &file, const QString &path)
{
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append);
}
