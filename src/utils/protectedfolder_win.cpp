#include "protectedfolder.h"

#include <QDir>
#include <QFileInfo>
#include <vector>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

// Protected DACL (no inherited entries), inherited by files and folders below:
// SYSTEM and Administrators full control, Users read and execute.
const wchar_t vendorFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// The same with Administrators as owner, as a folder created elevated has.
const wchar_t takenOverFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// The path as the Windows API takes it; `nativePath` must outlive the call.
LPCWSTR wide(const QString &nativePath)
{
    return reinterpret_cast<LPCWSTR>(nativePath.utf16());
}

// A file or folder itself, never what a reparse point there leads to, so that
// its owner is read and set on the very object that was checked.
class Handle
{
public:
    Handle(const QString &path, DWORD access, DWORD sharing)
        : handle(CreateFileW(wide(QDir::toNativeSeparators(path)), access, sharing, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr))
    {
    }
    ~Handle()
    {
        if (isOpen())
            CloseHandle(handle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    bool isOpen() const { return handle != INVALID_HANDLE_VALUE; }

    const HANDLE handle;
};

const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A security descriptor that LocalFree releases when the object goes.
class Descriptor
{
public:
    Descriptor() = default;
    ~Descriptor() { LocalFree(descriptor); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    PSECURITY_DESCRIPTOR descriptor = nullptr;
};

// The SID of the account this process runs as.
std::vector<BYTE> processUserSid()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    const bool read = size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size);
    CloseHandle(token);
    if (!read)
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
    const BYTE *bytes = static_cast<const BYTE *>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

bool isTrustedOwner(PSID owner)
{
    if (!owner)
        return false;
    if (IsWellKnownSid(owner, WinLocalSystemSid) ||
        IsWellKnownSid(owner, WinBuiltinAdministratorsSid))
        return true;
    std::vector<BYTE> user = processUserSid();
    return !user.empty() && EqualSid(owner, user.data());
}

// True when the two DACLs hold the same entries in the same order.
bool sameEntries(PACL acl, PACL wanted)
{
    if (!acl || acl->AceCount != wanted->AceCount)
        return false;
    for (WORD i = 0; i < wanted->AceCount; ++i) {
        ACCESS_ALLOWED_ACE *ace = nullptr;
        ACCESS_ALLOWED_ACE *wantedAce = nullptr;
        if (!GetAce(acl, i, reinterpret_cast<void **>(&ace)) ||
            !GetAce(wanted, i, reinterpret_cast<void **>(&wantedAce)) ||
            ace->Header.AceType != wantedAce->Header.AceType ||
            ace->Header.AceFlags != wantedAce->Header.AceFlags || ace->Mask != wantedAce->Mask ||
            !EqualSid(reinterpret_cast<PSID>(&ace->SidStart),
                      reinterpret_cast<PSID>(&wantedAce->SidStart)))
            return false;
    }
    return true;
}

// Owned by a trusted account, with exactly the protected access list.
bool isProtected(const Handle &folder)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    Descriptor current;
    if (GetSecurityInfo(folder.handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &current.descriptor) != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    Descriptor wanted;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL wantedDacl = nullptr;
    return isTrustedOwner(owner) &&
           GetSecurityDescriptorControl(current.descriptor, &control, &revision) &&
           (control & SE_DACL_PROTECTED) &&
           ConvertStringSecurityDescriptorToSecurityDescriptorW(vendorFolderSddl, SDDL_REVISION_1,
                                                                &wanted.descriptor, nullptr) &&
           GetSecurityDescriptorDacl(wanted.descriptor, &present, &wantedDacl, &defaulted) &&
           sameEntries(dacl, wantedDacl);
}

bool enablePrivilege(LPCWSTR name)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    const bool enabled = LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid) &&
                         AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
                         GetLastError() == ERROR_SUCCESS;
    CloseHandle(token);
    return enabled;
}

// Files already in the folder keep their own owners and access lists.
bool takeOver(const Handle &folder)
{
    Descriptor descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(takenOverFolderSddl, SDDL_REVISION_1,
                                                              &descriptor.descriptor, nullptr))
        return false;
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    PACL dacl = nullptr;
    BOOL daclPresent = FALSE;
    BOOL daclDefaulted = FALSE;
    return GetSecurityDescriptorOwner(descriptor.descriptor, &owner, &ownerDefaulted) &&
           GetSecurityDescriptorDacl(descriptor.descriptor, &daclPresent, &dacl, &daclDefaulted) &&
           SetSecurityInfo(folder.handle, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

} // namespace

bool makeProtectedFolder(const QString &path)
{
    const QString cleanPath = QDir::toNativeSeparators(QDir::cleanPath(path));
    if (!QDir().mkpath(QFileInfo(cleanPath).absolutePath()))
        return false;

    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = FALSE;
    Descriptor descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(vendorFolderSddl, SDDL_REVISION_1,
                                                              &descriptor.descriptor, nullptr))
        return false;
    attributes.lpSecurityDescriptor = descriptor.descriptor;

    // Created with the access list in one step, so that nobody can slip in
    // between creation and protection.
    return CreateDirectoryW(wide(cleanPath), &attributes) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool protectExistingFolder(const QString &path)
{
    {
        // Reading needs no more than READ_CONTROL, which a run without
        // elevation has on the tool's own folder.
        const Handle folder(path, READ_CONTROL, shareAll);
        if (!folder.isOpen())
            return false;
        if (isProtected(folder))
            return true;
    }
    // The privileges grant WRITE_OWNER and WRITE_DAC whatever the folder's
    // list says; a run without them (not elevated) fails to open below.
    enablePrivilege(SE_TAKE_OWNERSHIP_NAME);
    enablePrivilege(SE_RESTORE_NAME);
    const Handle folder(path, READ_CONTROL | WRITE_DAC | WRITE_OWNER, shareAll);
    return folder.isOpen() && takeOver(folder);
}

bool isOwnedByTrustedAccount(const QString &path)
{
    const Handle file(path, READ_CONTROL, shareAll);
    PSID owner = nullptr;
    Descriptor descriptor;
    return file.isOpen() &&
           GetSecurityInfo(file.handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                           nullptr, nullptr, &descriptor.descriptor) == ERROR_SUCCESS &&
           isTrustedOwner(owner);
}

struct FolderHold::Private
{
    HANDLE handle = INVALID_HANDLE_VALUE;
};

FolderHold::FolderHold(const QString &path) : d(new Private)
{
    // No FILE_SHARE_DELETE: while this handle is open, nobody can open the
    // folder to rename or delete it.
    d->handle = CreateFileW(wide(QDir::toNativeSeparators(path)), FILE_LIST_DIRECTORY,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION information = {};
    const bool plainFolder = d->handle != INVALID_HANDLE_VALUE &&
                             GetFileInformationByHandle(d->handle, &information) &&
                             (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                             !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!plainFolder && d->handle != INVALID_HANDLE_VALUE) {
        CloseHandle(d->handle);
        d->handle = INVALID_HANDLE_VALUE;
    }
}

FolderHold::~FolderHold()
{
    if (d->handle != INVALID_HANDLE_VALUE)
        CloseHandle(d->handle);
}

bool FolderHold::isHeld() const
{
    return d->handle != INVALID_HANDLE_VALUE;
}
