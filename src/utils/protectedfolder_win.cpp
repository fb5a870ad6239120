#include "protectedfolder.h"

#include <QDir>
#include <QFileInfo>
#include <string>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

// Protected DACL (no inherited entries), inherited by files and folders below:
// SYSTEM and Administrators full control, Users read and execute.
const wchar_t vendorFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// The same with Administrators as owner, as a folder created elevated has.
const std::wstring takenOverFolderSddl = std::wstring(L"O:BA") + vendorFolderSddl;

LPCWSTR wide(const QString &text)
{
    return reinterpret_cast<LPCWSTR>(text.utf16());
}

// The folder itself, never what a reparse point there leads to, so that its
// owner is read and set on the very object that was checked.
class FolderHandle
{
public:
    FolderHandle(const QString &path, DWORD access)
        : handle(CreateFileW(wide(QDir::toNativeSeparators(path)), access,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr))
    {
    }
    ~FolderHandle()
    {
        if (isOpen())
            CloseHandle(handle);
    }
    FolderHandle(const FolderHandle &) = delete;
    FolderHandle &operator=(const FolderHandle &) = delete;

    bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }

    const HANDLE handle;
};

bool ownedBySystemOrAdministrators(const FolderHandle &folder)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(folder.handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool trusted = owner && (IsWellKnownSid(owner, WinLocalSystemSid) ||
                                   IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
    LocalFree(descriptor);
    return trusted;
}

// Files already in the folder keep their own owners and access lists.
bool takeOver(const FolderHandle &folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            takenOverFolderSddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    PACL dacl = nullptr;
    BOOL daclPresent = FALSE;
    BOOL daclDefaulted = FALSE;
    const bool taken = GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) &&
                       GetSecurityDescriptorDacl(descriptor, &daclPresent, &dacl, &daclDefaulted) &&
                       SetSecurityInfo(folder.handle, SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                           PROTECTED_DACL_SECURITY_INFORMATION,
                                       owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
    LocalFree(descriptor);
    return taken;
}

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
    const BOOL created = CreateDirectoryW(wide(nativePath), &attributes);
    const DWORD error = created ? ERROR_SUCCESS : GetLastError();
    LocalFree(attributes.lpSecurityDescriptor);
    return created || error == ERROR_ALREADY_EXISTS;
}

bool protectExistingFolder(const QString &path)
{
    {
        // Only reading the owner needs no more than READ_CONTROL, which a run
        // without elevation has on the tool's own folder.
        const FolderHandle folder(path, READ_CONTROL);
        if (!folder.isOpen())
            return false;
        if (ownedBySystemOrAdministrators(folder))
            return true;
    }
    const FolderHandle folder(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER);
    return folder.isOpen() && takeOver(folder);
}
