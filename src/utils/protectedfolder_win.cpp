#include "protectedfolder.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

#include <sddl.h>

namespace {

// Protected DACL (no inherited entries), inherited by files and folders below:
// SYSTEM and Administrators full control, Users read and execute.
const wchar_t vendorFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

} // namespace

bool makeProtectedFolder(const QString &path)
{
    const QString nativePath = QDir::toNativeSeparators(QDir::cleanPath(path));
    if (!QDir().mkpath(QFileInfo(nativePath).absolutePath()))
        return false;

    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = FALSE;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            vendorFolderSddl, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
        return false;

    // Created with the access list in one step, so that nobody can slip in
    // between creation and protection.
    const BOOL created =
        CreateDirectoryW(reinterpret_cast<LPCWSTR>(nativePath.utf16()), &attributes);
    const DWORD error = created ? ERROR_SUCCESS : GetLastError();
    LocalFree(attributes.lpSecurityDescriptor);
    return created || error == ERROR_ALREADY_EXISTS;
}
