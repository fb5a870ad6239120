#include "protectedfolder.h"

#include <QDir>
#include <QFileInfo>
#include <utility>
#include <vector>

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

namespace {

// Protected DACL (no inherited entries), inherited by files and folders below:
// SYSTEM and Administrators full control, Users read and execute.
const wchar_t vendorFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
// The same with Administrators as owner, as a folder created elevated has.
const wchar_t takenOverFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Files the tool creates: SYSTEM and Administrators alone may use them.
const wchar_t privateFileSddl[] = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

// The rights that let an account change a file: its content, attributes,
// name, owner or access list.
const ACCESS_MASK changingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                   FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                   GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

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
    // Hands the open handle over to the caller, who closes it.
    HANDLE release() { return std::exchange(handle, INVALID_HANDLE_VALUE); }

    HANDLE handle;
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

// True when an entry of `dacl` that applies to the object itself allows an
// account that is not trusted any of `rights`. No list at all allows
// everybody everything. Entries other than plain allow and deny entries
// (object and conditional ones) are not read: they count as allowing.
bool allowsOthers(PACL dacl, ACCESS_MASK rights)
{
    if (!dacl)
        return true;
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER *header = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void **>(&header)))
            return true;
        if ((header->AceFlags & INHERIT_ONLY_ACE) || header->AceType == ACCESS_DENIED_ACE_TYPE)
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return true;
        ACCESS_ALLOWED_ACE *ace = reinterpret_cast<ACCESS_ALLOWED_ACE *>(header);
        if ((ace->Mask & rights) && !isTrustedOwner(reinterpret_cast<PSID>(&ace->SidStart)))
            return true;
    }
    return false;
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

namespace {

// The file on the open handle, examined: a plain file of a trusted owner
// with one link that no other account may change is one to use. A folder of
// a trusted owner is none that was planted, but cannot be used either.
OpenedFile examine(const Handle &file)
{
    OpenedFile examined;
    BY_HANDLE_FILE_INFORMATION information = {};
    PSID owner = nullptr;
    PACL dacl = nullptr;
    Descriptor descriptor;
    if (!GetFileInformationByHandle(file.handle, &information)) {
        examined.error = qt_error_string(int(GetLastError()));
        return examined;
    }
    const DWORD read = GetSecurityInfo(file.handle, SE_FILE_OBJECT,
                                       OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                       &owner, nullptr, &dacl, nullptr, &descriptor.descriptor);
    if (read != ERROR_SUCCESS) {
        examined.error = qt_error_string(int(read));
        return examined;
    }
    const DWORD attributes = information.dwFileAttributes;
    if (isTrustedOwner(owner) && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        examined.error = QStringLiteral("a folder, not a file");
        return examined;
    }
    const bool plain = isTrustedOwner(owner) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                       information.nNumberOfLinks == 1 && !allowsOthers(dacl, changingRights);
    examined.status = plain ? OpenedFile::Opened : OpenedFile::Untrusted;
    return examined;
}

OpenedFile notOpened(DWORD error)
{
    OpenedFile file;
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        file.status = OpenedFile::Missing;
        break;
    case ERROR_ACCESS_DENIED:
        // Its list shuts Administrators out, as that of no file of the
        // tool's does.
        file.status = OpenedFile::Untrusted;
        break;
    default:
        file.error = qt_error_string(int(error));
    }
    return file;
}

bool failWith(QString *error)
{
    *error = qt_error_string(int(GetLastError()));
    return false;
}

bool writeAll(HANDLE file, const QByteArray &bytes)
{
    qint64 written = 0;
    while (written < bytes.size()) {
        const DWORD wanted = DWORD(qMin<qint64>(bytes.size() - written, 1 << 20));
        DWORD chunk = 0;
        if (!WriteFile(file, bytes.constData() + written, wanted, &chunk, nullptr) || chunk == 0)
            return false;
        written += chunk;
    }
    return true;
}

} // namespace

OpenedFile openTrustedFile(const QString &path, FileUse)
{
    // Others may read meanwhile, nobody may write or rename it.
    // FILE_FLAG_BACKUP_SEMANTICS (Handle) opens a folder too, so that its
    // owner tells a planted one from the tool's.
    Handle opened(path, GENERIC_READ, FILE_SHARE_READ);
    if (!opened.isOpen())
        return notOpened(GetLastError());
    OpenedFile file = examine(opened);
    if (file.status != OpenedFile::Opened)
        return file;
    const HANDLE handle = opened.release();
    file.descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (file.descriptor < 0) {
        CloseHandle(handle);
        file.status = OpenedFile::Failed;
        file.error = QStringLiteral("no C runtime descriptor");
    }
    return file;
}

bool createFileWith(const QString &path, const QByteArray &bytes, QString *error)
{
    Descriptor descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(privateFileSddl, SDDL_REVISION_1,
                                                              &descriptor.descriptor, nullptr))
        return failWith(error);
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = descriptor.descriptor;
    attributes.bInheritHandle = FALSE;
    // CREATE_NEW: never a file, nor a link, that was there before.
    const HANDLE file = CreateFileW(wide(QDir::toNativeSeparators(path)), GENERIC_WRITE, 0,
                                    &attributes, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failWith(error);
    bool done = writeAll(file, bytes) && FlushFileBuffers(file);
    if (!done)
        failWith(error);
    if (!CloseHandle(file) && done)
        done = failWith(error);
    return done;
}

bool renameWithoutCopy(const QString &from, const QString &to, bool replace, QString *error)
{
    // Without MOVEFILE_COPY_ALLOWED, MoveFileExW only renames: it fails
    // rather than copy.
    return MoveFileExW(wide(QDir::toNativeSeparators(from)), wide(QDir::toNativeSeparators(to)),
                       replace ? MOVEFILE_REPLACE_EXISTING : 0) ||
           failWith(error);
}
