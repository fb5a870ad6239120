#include "protectedfolder.h"

#include "logging/logline.h"

#include <QDeadlineTimer>
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

// Protected DACL (no inherited entries), inherited by files and folders
// below: SYSTEM and Administrators full control, nobody else any right.
const wchar_t folderDaclSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The same with Administrators as owner: creating a folder so fails without
// elevation, where Administrators is a group for denying only.
const wchar_t newFolderSddl[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// Files the tool creates, owned by Administrators whatever the token's
// default owner: SYSTEM and Administrators alone may use them; every user
// may read the log.
const wchar_t privateFileSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";
const wchar_t logFileSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FR;;;BU)";

// The rights that let an account change a file: its content, attributes,
// name, owner or access list.
const ACCESS_MASK changingRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA |
                                   FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER |
                                   GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;
// The rights that let an account open a file to lock a range of it: reading
// or writing its data.
const ACCESS_MASK lockingRights = changingRights | FILE_READ_DATA | GENERIC_READ;

const DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The rename class whose FILE_RENAME_INFO starts with FILE_RENAME_FLAG_
// values, documented from Windows 10 1607, though 1607 itself is reported to
// refuse it (ERROR_INVALID_FUNCTION), and ReFS may (ERROR_NOT_SUPPORTED):
// those fall back on the plain rename. MinGW-w64's minwinbase.h leaves it
// out of FILE_INFO_BY_HANDLE_CLASS for the _WIN32_WINNT it builds with.
const FILE_INFO_BY_HANDLE_CLASS fileRenameInfoEx = FILE_INFO_BY_HANDLE_CLASS(22);
// ERROR_FILE_SYSTEM_LIMITATION, which MinGW-w64's winerror.h lacks: what a
// file system without POSIX renames (exFAT) answers FileRenameInfoEx with.
const DWORD errorFileSystemLimitation = 665;

// How long writeNewFile waits for another program that holds the target
// open without delete sharing, and the pause between two attempts.
const qint64 replaceWaitMs = 2000;
const DWORD replaceRetryPauseMs = 50;

// The path as the Windows API takes it; `nativePath` must outlive the call.
LPCWSTR wide(const QString &nativePath)
{
    return reinterpret_cast<LPCWSTR>(nativePath.utf16());
}

// A security descriptor that LocalFree releases when the object goes.
class Descriptor
{
public:
    Descriptor() = default;
    ~Descriptor() { LocalFree(descriptor); }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    bool fromSddl(const wchar_t *sddl)
    {
        return ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                    &descriptor, nullptr);
    }

    PSECURITY_DESCRIPTOR descriptor = nullptr;
};

// The security an object is created with, from an SDDL string; none for a
// null string.
class CreationSecurity
{
public:
    explicit CreationSecurity(const wchar_t *sddl)
    {
        attributes.nLength = sizeof(attributes);
        attributes.bInheritHandle = FALSE;
        valid = !sddl || descriptor.fromSddl(sddl);
        attributes.lpSecurityDescriptor = descriptor.descriptor;
    }

    // False when the SDDL string could not be read.
    bool isValid() const { return valid; }
    SECURITY_ATTRIBUTES *attributesOrNull()
    {
        return descriptor.descriptor ? &attributes : nullptr;
    }

private:
    Descriptor descriptor;
    SECURITY_ATTRIBUTES attributes = {};
    bool valid = false;
};

// A file or folder itself, never what a reparse point there leads to, so
// that it is examined and used as the very object that was checked.
// FILE_FLAG_BACKUP_SEMANTICS opens a folder too (and, with the backup and
// restore privileges enabled, whatever its list says).
class Handle
{
public:
    Handle(const QString &path, DWORD access, DWORD sharing, DWORD disposition = OPEN_EXISTING,
           SECURITY_ATTRIBUTES *security = nullptr)
        : handle(CreateFileW(wide(QDir::toNativeSeparators(path)), access, sharing, security,
                             disposition, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr))
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

bool isTrustedAccount(PSID account)
{
    if (!account)
        return false;
    if (IsWellKnownSid(account, WinLocalSystemSid) ||
        IsWellKnownSid(account, WinBuiltinAdministratorsSid))
        return true;
    std::vector<BYTE> user = processUserSid();
    return !user.empty() && EqualSid(account, user.data());
}

// The owner and the DACL of the open object; `descriptor` holds them.
// GetSecurityInfo returns its error rather than setting the last error.
DWORD readSecurity(HANDLE object, PSID *owner, PACL *dacl, Descriptor &descriptor)
{
    return GetSecurityInfo(object, SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, owner, nullptr,
                           dacl, nullptr, &descriptor.descriptor);
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
        if ((ace->Mask & rights) && !isTrustedAccount(reinterpret_cast<PSID>(&ace->SidStart)))
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

// Exactly the protected list of the folder, with no inherited entries.
bool hasProtectedList(PSECURITY_DESCRIPTOR current, PACL dacl)
{
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    Descriptor wanted;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL wantedDacl = nullptr;
    return GetSecurityDescriptorControl(current, &control, &revision) &&
           (control & SE_DACL_PROTECTED) && wanted.fromSddl(folderDaclSddl) &&
           GetSecurityDescriptorDacl(wanted.descriptor, &present, &wantedDacl, &defaulted) &&
           sameEntries(dacl, wantedDacl);
}

// Enables the backup and restore privileges while the object lives, then
// puts back the state they had, so that the system commands the run starts
// later never inherit them enabled. A token without them (no elevation) is
// left as it is.
class BackupPrivileges
{
public:
    BackupPrivileges()
    {
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return;
        std::vector<BYTE> buffer(stateSize);
        TOKEN_PRIVILEGES *wanted = reinterpret_cast<TOKEN_PRIVILEGES *>(buffer.data());
        wanted->PrivilegeCount = 2;
        const LPCWSTR names[] = {SE_BACKUP_NAME, SE_RESTORE_NAME};
        for (DWORD i = 0; i < 2; ++i) {
            wanted->Privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
            if (!LookupPrivilegeValueW(nullptr, names[i], &wanted->Privileges[i].Luid))
                return;
        }
        DWORD size = 0;
        adjusted =
            AdjustTokenPrivileges(token, FALSE, wanted, stateSize,
                                  reinterpret_cast<TOKEN_PRIVILEGES *>(previous.data()), &size);
    }
    ~BackupPrivileges()
    {
        if (adjusted) {
            AdjustTokenPrivileges(token, FALSE,
                                  reinterpret_cast<TOKEN_PRIVILEGES *>(previous.data()), 0, nullptr,
                                  nullptr);
        }
        if (token)
            CloseHandle(token);
    }
    BackupPrivileges(const BackupPrivileges &) = delete;
    BackupPrivileges &operator=(const BackupPrivileges &) = delete;

private:
    static const DWORD stateSize = sizeof(TOKEN_PRIVILEGES) + sizeof(LUID_AND_ATTRIBUTES);

    HANDLE token = nullptr;
    // The privileges the adjustment changed, as they were before it.
    std::vector<BYTE> previous = std::vector<BYTE>(stateSize);
    bool adjusted = false;
};

// The folder at `path` on the open handle checked and, when its owner is
// trusted but its list is not the protected one and `repair` asks for it,
// given that list.
FolderHold::State checkAndRepair(const Handle &folder, const QString &path,
                                 FolderHold::Repair repair)
{
    BY_HANDLE_FILE_INFORMATION information = {};
    PSID owner = nullptr;
    PACL dacl = nullptr;
    Descriptor current;
    if (!GetFileInformationByHandle(folder.handle, &information) ||
        readSecurity(folder.handle, &owner, &dacl, current) != ERROR_SUCCESS)
        return FolderHold::Unprotected;
    if (!isTrustedAccount(owner))
        return FolderHold::NotOurs;
    // Some links are opened through despite FILE_FLAG_OPEN_REPARSE_POINT
    // (Wine's view of a Unix symbolic link): the path's own attributes still
    // show them, and nothing behind a link is repaired.
    const DWORD pathAttributes = GetFileAttributesW(wide(QDir::toNativeSeparators(path)));
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        (pathAttributes != INVALID_FILE_ATTRIBUTES &&
         (pathAttributes & FILE_ATTRIBUTE_REPARSE_POINT)))
        return FolderHold::Link;
    if (!(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return FolderHold::NotFolder;
    if (hasProtectedList(current.descriptor, dacl) || repair == FolderHold::LeaveList)
        return FolderHold::Held;
    // Unlike SetSecurityInfo, SetKernelObjectSecurity sets the list of the
    // folder alone: it does not push the new inheritable entries into the
    // files already there, which stay as they were and are checked one by
    // one when used. The descriptor's own control marks the list protected.
    Descriptor wanted;
    return wanted.fromSddl(folderDaclSddl) &&
                   SetKernelObjectSecurity(folder.handle, DACL_SECURITY_INFORMATION,
                                           wanted.descriptor)
               ? FolderHold::Held
               : FolderHold::Unprotected;
}

// What is at `path`, which could not be opened to be held, with `error`.
FolderHold::State stateOfUnopened(const QString &path, DWORD error)
{
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return FolderHold::Missing;
    // Held open by another without read sharing, which an open for
    // READ_CONTROL alone is not subject to: its owner tells whether it may
    // be moved aside.
    const Handle entry(path, READ_CONTROL, shareAll);
    PSID owner = nullptr;
    Descriptor descriptor;
    const bool read =
        entry.isOpen() &&
        GetSecurityInfo(entry.handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor.descriptor) == ERROR_SUCCESS;
    return read && !isTrustedAccount(owner) ? FolderHold::NotOurs : FolderHold::Unprotected;
}

// How a file is opened for its use.
struct FileOpening
{
    DWORD access;
    DWORD sharing;
    DWORD disposition;
    // The security of a file created so; null for none.
    const wchar_t *sddl;
    // The rights no other account may hold.
    ACCESS_MASK forbidden;
    // The C runtime descriptor's flags.
    int flags;
};

FileOpening openingFor(FileUse use)
{
    switch (use) {
    case FileUse::Read:
        break;
    case FileUse::Lock:
        // FILE_SHARE_DELETE: another run that found a planted file at this
        // name opens what is there now for DELETE to set it aside, sees this
        // file of the tool's on that handle and leaves it; without the
        // sharing its open would fail and it would give up. No user may
        // open the file at all, and the tool renames only what it checked.
        return {GENERIC_READ | GENERIC_WRITE, shareAll, OPEN_ALWAYS, privateFileSddl, lockingRights,
                _O_RDWR | _O_BINARY};
    case FileUse::ExistingLock:
        // Shared for delete as Lock's is, for the same reason.
        return {GENERIC_READ | GENERIC_WRITE, shareAll, OPEN_EXISTING, nullptr, lockingRights,
                _O_RDWR | _O_BINARY};
    case FileUse::Append:
    case FileUse::NewAppend:
        // FILE_APPEND_DATA without FILE_WRITE_DATA: Windows itself puts every
        // write at the end of the file.
        return {FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                shareAll,
                DWORD(use == FileUse::Append ? OPEN_ALWAYS : CREATE_NEW),
                logFileSddl,
                changingRights,
                _O_APPEND};
    }
    return {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
            nullptr,      changingRights,  _O_RDONLY | _O_BINARY};
}

// The file on the open handle, examined: a plain file of a trusted owner
// with one link, on which no other account holds any of the `forbidden`
// rights of `use`, is one to use. A folder of a trusted owner is none that
// was planted, but cannot be used either (isLockUse).
OpenedFile examine(const Handle &file, FileUse use)
{
    const ACCESS_MASK forbidden = openingFor(use).forbidden;
    OpenedFile examined;
    BY_HANDLE_FILE_INFORMATION information = {};
    PSID owner = nullptr;
    PACL dacl = nullptr;
    Descriptor descriptor;
    if (!GetFileInformationByHandle(file.handle, &information)) {
        examined.error = qt_error_string(int(GetLastError()));
        return examined;
    }
    const DWORD securityError = readSecurity(file.handle, &owner, &dacl, descriptor);
    if (securityError != ERROR_SUCCESS) {
        examined.error = qt_error_string(int(securityError));
        return examined;
    }
    const DWORD attributes = information.dwFileAttributes;
    const bool trustedOwner = isTrustedAccount(owner);
    if (trustedOwner && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !isLockUse(use)) {
        examined.error = QStringLiteral("a folder, not a file");
        return examined;
    }
    const bool plain = trustedOwner &&
                       !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
                       information.nNumberOfLinks == 1 && !allowsOthers(dacl, forbidden);
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
    case ERROR_SHARING_VIOLATION:
        file.status = OpenedFile::HeldOpen;
        file.error = qt_error_string(int(error));
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

// What renameCheckedEntry and removeTrustedFile open an entry with:
// enough to examine it and to rename or delete it on that handle, sharing
// everything so as to disturb no other holder.
const DWORD entryAccess = DELETE | READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

// Renames the object open as `handle`, which has DELETE access, to the
// absolute path `to`: the very object that was opened and checked, never
// another that took its name meanwhile, and never by copying. `flags` are
// FILE_RENAME_FLAG_ values; FileRenameInfo knows REPLACE_IF_EXISTS alone.
// Without flags, nothing at `to` is replaced.
bool renameOnHandle(HANDLE handle, const QString &to, DWORD flags = 0,
                    FILE_INFO_BY_HANDLE_CLASS infoClass = FileRenameInfo)
{
    const QString target = QDir::toNativeSeparators(QDir::cleanPath(to));
    const DWORD nameBytes = DWORD(target.size()) * sizeof(WCHAR);
    // FILE_RENAME_INFO ends in the first character of the name; the rest,
    // with a terminating null, follows it. Zeroed: RootDirectory null.
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
    FILE_RENAME_INFO *rename = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
    // The BOOLEAN ReplaceIfExists and the DWORD Flags share the first member.
    if (infoClass == FileRenameInfo)
        rename->ReplaceIfExists = (flags & FILE_RENAME_FLAG_REPLACE_IF_EXISTS) ? TRUE : FALSE;
    else
        rename->Flags = flags;
    rename->FileNameLength = nameBytes;
    memcpy(rename->FileName, target.utf16(), nameBytes);
    return SetFileInformationByHandle(handle, infoClass, rename, DWORD(buffer.size()));
}

// True for the errors with which a system refuses FileRenameInfoEx: one
// before it (Windows 8.1: ERROR_INVALID_PARAMETER), Windows 10 1607
// (ERROR_INVALID_FUNCTION), and a file system or emulation without POSIX
// renames, ReFS (ERROR_NOT_SUPPORTED), exFAT or Wine, for it or its flags.
bool isUnsupportedRename(DWORD error)
{
    switch (error) {
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case errorFileSystemLimitation:
        return true;
    default:
        return false;
    }
}

// True for the errors of a target that another program (a backup agent, an
// indexer, a virus scanner) holds open for a moment.
bool isHeldTarget(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

// Renames the file open as `handle` over whatever is at `to`. POSIX
// semantics let the rename replace a target that another program holds
// open with delete sharing, which keeps its handle on the old file; where
// FileRenameInfoEx is unsupported, the plain replacing rename is used. A
// target held open without delete sharing is tried again until
// replaceWaitMs have passed. False with the last error as GetLastError's.
bool replaceOnHandle(HANDLE handle, const QString &to)
{
    const QDeadlineTimer deadline(replaceWaitMs);
    FILE_INFO_BY_HANDLE_CLASS infoClass = fileRenameInfoEx;
    DWORD flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
    for (;;) {
        if (renameOnHandle(handle, to, flags, infoClass))
            return true;
        const DWORD error = GetLastError();
        if (infoClass == fileRenameInfoEx && isUnsupportedRename(error)) {
            infoClass = FileRenameInfo;
            flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS;
            continue;
        }
        if (!isHeldTarget(error) || deadline.hasExpired()) {
            SetLastError(error);
            return false;
        }
        Sleep(DWORD(qBound<qint64>(1, deadline.remainingTime(), replaceRetryPauseMs)));
    }
}

// Deletes the file open as `handle`, which has DELETE access, once the last
// handle on it closes.
bool deleteOnHandle(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof(disposition));
}

EntryRename renameOutcomeOf(OpenedFile::Status status)
{
    switch (status) {
    case OpenedFile::Missing:
        return EntryRename::Missing;
    case OpenedFile::HeldOpen:
        return EntryRename::HeldOpen;
    default:
        return EntryRename::Failed;
    }
}

} // namespace

void makeAdministratorsDefaultOwner()
{
    HANDLE token = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    TOKEN_OWNER owner = {administrators};
    // Fails without elevation, where Administrators may not own objects.
    const bool set =
        OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_DEFAULT, &token) &&
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
        SetTokenInformation(token, TokenOwner, &owner, sizeof(owner));
    const DWORD error = GetLastError();
    if (token)
        CloseHandle(token);
    if (!set) {
        logCritical(QStringLiteral("Utils"),
                    QStringLiteral("Cannot make Administrators the default owner: %1")
                        .arg(qt_error_string(int(error))));
    }
}

bool makeProtectedFolder(const QString &path)
{
    const QString cleanPath = QDir::toNativeSeparators(QDir::cleanPath(path));
    if (!QDir().mkpath(QFileInfo(cleanPath).absolutePath()))
        return false;
    // Created with owner and access list in one step, so that nobody can
    // slip in between creation and protection.
    CreationSecurity security(newFolderSddl);
    return security.isValid() && (CreateDirectoryW(wide(cleanPath), security.attributesOrNull()) ||
                                  GetLastError() == ERROR_ALREADY_EXISTS);
}

struct FolderHold::Private
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    State state = Missing;
};

FolderHold::FolderHold(const QString &path, Repair repair) : d(new Private)
{
    const BackupPrivileges privileges;
    // No FILE_SHARE_DELETE: while this handle is open, nobody can open the
    // folder to rename or delete it. FILE_LIST_DIRECTORY is access to its
    // data, without which the sharing would not count; WRITE_DAC is for the
    // repair.
    Handle folder(path, FILE_LIST_DIRECTORY | READ_CONTROL | WRITE_DAC,
                  FILE_SHARE_READ | FILE_SHARE_WRITE);
    d->state = folder.isOpen() ? checkAndRepair(folder, path, repair)
                               : stateOfUnopened(path, GetLastError());
    if (d->state == Held)
        d->handle = folder.release();
}

FolderHold::~FolderHold()
{
    if (d->handle != INVALID_HANDLE_VALUE)
        CloseHandle(d->handle);
}

FolderHold::State FolderHold::state() const
{
    return d->state;
}

OpenedFile openTrustedFile(const QString &path, FileUse use)
{
    const FileOpening opening = openingFor(use);
    CreationSecurity security(opening.sddl);
    if (!security.isValid())
        return notOpened(GetLastError());
    Handle opened(path, opening.access, opening.sharing, opening.disposition,
                  security.attributesOrNull());
    if (!opened.isOpen())
        return notOpened(GetLastError());
    OpenedFile file = examine(opened, use);
    if (file.status != OpenedFile::Opened)
        return file;
    const HANDLE handle = opened.release();
    file.descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), opening.flags);
    if (file.descriptor < 0) {
        CloseHandle(handle);
        file.status = OpenedFile::Failed;
        file.error = QStringLiteral("no C runtime descriptor");
    }
    return file;
}

void closeDescriptor(int descriptor)
{
    _close(descriptor);
}

bool writeNewFile(const QString &temporary, const QString &path, const QByteArray &bytes,
                  QString *error)
{
    CreationSecurity security(privateFileSddl);
    if (!security.isValid())
        return failWith(error);
    // CREATE_NEW: never a file, nor a link, that was there before. DELETE:
    // for the rename on this handle.
    Handle file(temporary, GENERIC_WRITE | DELETE, 0, CREATE_NEW, security.attributesOrNull());
    if (!file.isOpen())
        return failWith(error);
    const bool done = (writeAll(file.handle, bytes) && FlushFileBuffers(file.handle) &&
                       replaceOnHandle(file.handle, path)) ||
                      failWith(error);
    if (!done)
        deleteOnHandle(file.handle);
    return done;
}

EntryRename renameCheckedEntry(const QString &path, const QString &to, FileUse use,
                               OpenedFile::Status expected, QString *error)
{
    // The privileges let the handle read the owner and list of a file whose
    // list shuts Administrators out, as a planted one's may.
    const BackupPrivileges privileges;
    const Handle entry(path, entryAccess, shareAll);
    if (!entry.isOpen()) {
        const DWORD openError = GetLastError();
        *error = qt_error_string(int(openError));
        return renameOutcomeOf(notOpened(openError).status);
    }
    if (examine(entry, use).status != expected)
        return EntryRename::Unexpected;
    return renameOnHandle(entry.handle, to) || failWith(error) ? EntryRename::Renamed
                                                               : EntryRename::Failed;
}

bool removeTrustedFile(const QString &path, QString *error)
{
    const Handle entry(path, entryAccess, shareAll);
    if (!entry.isOpen())
        return failWith(error);
    const OpenedFile examined = examine(entry, FileUse::Read);
    if (examined.status != OpenedFile::Opened) {
        *error = QStringLiteral("not a file of the tool's");
        return false;
    }
    return deleteOnHandle(entry.handle) || failWith(error);
}

bool moveAsideForeignFolder(const QString &path, const QString &to, QString *error)
{
    // With the backup and restore privileges, as the folder was checked.
    const BackupPrivileges privileges;
    const Handle entry(path, entryAccess, shareAll);
    if (!entry.isOpen())
        return failWith(error);
    PSID owner = nullptr;
    PACL dacl = nullptr;
    Descriptor descriptor;
    const DWORD securityError = readSecurity(entry.handle, &owner, &dacl, descriptor);
    if (securityError != ERROR_SUCCESS) {
        *error = qt_error_string(int(securityError));
        return false;
    }
    if (isTrustedAccount(owner)) {
        *error = QStringLiteral("owned by a trusted account by now");
        return false;
    }
    return renameOnHandle(entry.handle, to) || failWith(error);
}
