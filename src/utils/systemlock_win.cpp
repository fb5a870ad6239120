// The Windows run lock: a named mutex in the global namespace. Windows
// releases a mutex whose holder ended (the next waiter sees it abandoned and
// owns it), and a mutex is no file that anybody could plant or hold open.
// Creating an object in the global namespace takes a privilege that
// Administrators and services have and users lack, and its access list
// admits only SYSTEM and Administrators, so no user can take it first.
#include "systemlock.h"

#include <windows.h>

#include <sddl.h>

namespace {

const wchar_t mutexName[] = L"Global\\TarnwickDnsRun";
const wchar_t mutexSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

} // namespace

struct SystemLock::Private
{
    HANDLE mutex = nullptr;
    bool held = false;
};

SystemLock::SystemLock(const QString &) : d(new Private) {}

SystemLock::~SystemLock()
{
    if (d->held)
        ReleaseMutex(d->mutex);
    if (d->mutex)
        CloseHandle(d->mutex);
}

QString SystemLock::name() const
{
    return QString::fromWCharArray(mutexName);
}

bool SystemLock::open()
{
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = FALSE;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            mutexSddl, SDDL_REVISION_1, &attributes.lpSecurityDescriptor, nullptr))
        return false;
    d->mutex = CreateMutexW(&attributes, FALSE, mutexName);
    LocalFree(attributes.lpSecurityDescriptor);
    return d->mutex != nullptr;
}

bool SystemLock::tryTake()
{
    // An abandoned mutex is owned all the same: its holder ended midway.
    const DWORD result = WaitForSingleObject(d->mutex, 0);
    d->held = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    return d->held;
}
