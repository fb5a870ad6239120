#include "logfolderopener.h"

#include "logging/logger.h"

#include <QDebug>
#include <QDesktopServices>
#include <QUrl>

void LogFolderOpener::openLogFolder()
{
    const QString folder = Logger::instance()->logFolder();
    const QString text = QStringLiteral("file:///") + folder;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        qWarning() << "Can't open openUrl" << text;
}
