#include "paths.h"

#include <QDir>

#include <windows.h>

// FOLDERID_ProgramData defined here: MinGW's libuuid would otherwise link
// its one object that holds every GUID of the system headers.
#include <initguid.h>

#include <knownfolders.h>
#include <shlobj.h>

QString programDataFolder()
{
    // The known folder itself, not a guess among Qt's locations: an
    // administrator may have moved it to a path that does not read
    // "ProgramData".
    PWSTR path = nullptr;
    const HRESULT result =
        SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DEFAULT, nullptr, &path);
    const QString folder =
        SUCCEEDED(result) ? QDir::fromNativeSeparators(QString::fromWCharArray(path)) : QString();
    // The caller frees the path, whether the call succeeded or not.
    CoTaskMemFree(path);
    return folder;
}
