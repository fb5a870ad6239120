#include "systemcommand.h"

#include <QDir>
#include <QHash>

#include <windows.h>

namespace {

// Where each command lives below the system directory.
const QHash<QString, QString> programsBelowSystemDirectory = {
    {QStringLiteral("netsh"), QStringLiteral("netsh.exe")},
    {QStringLiteral("ipconfig"), QStringLiteral("ipconfig.exe")},
    {QStringLiteral("wmic"), QStringLiteral("wbem\\WMIC.exe")},
};

// The system directory, or "" when Windows does not name it. No guessed
// path instead: a standard user may create "C:\Windows\System32" on a
// machine whose Windows lives elsewhere.
QString systemDirectory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    // A length of MAX_PATH or more is the size the path would need.
    if (length == 0 || length >= MAX_PATH)
        return QString();
    return QString::fromWCharArray(buffer, int(length));
}

} // namespace

QString systemProgram(const QString &command)
{
    const QString directory = systemDirectory();
    if (directory.isEmpty())
        return QString();
    return directory + QLatin1Char('\\') +
           programsBelowSystemDirectory.value(command, command + QStringLiteral(".exe"));
}

void SystemProcess::setupChildProcess()
{
    // Qt calls it on Unix only; on Windows the job object does its work.
}

bool endCommandsWithThisProcess()
{
    // The job's one handle is never closed: it closes as this process ends,
    // and the job then ends every process still in it. Processes started
    // from here join the job of their parent.
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                                   sizeof(limits)) &&
           AssignProcessToJobObject(job, GetCurrentProcess());
}
