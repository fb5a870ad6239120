#include "logfile.h"

#include <QDir>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

bool openLogFileForAppending(QFile &file, const QString &path)
{
    // FILE_APPEND_DATA without FILE_WRITE_DATA: Windows itself puts every
    // write at the end of the file.
    const HANDLE handle = CreateFileW(
        reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()),
        FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND);
    if (descriptor < 0) {
        CloseHandle(handle);
        return false;
    }
    return file.open(descriptor, QIODevice::WriteOnly | QIODevice::Append,
                     QFileDevice::AutoCloseHandle);
}
