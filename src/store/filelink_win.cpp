#include "filelink.h"

#include <QDir>

#include <windows.h>

bool isLink(const QString &path)
{
    // The attributes of the path itself: they are not resolved through a
    // reparse point, so a junction reports its own attribute.
    const DWORD attributes =
        GetFileAttributesW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
