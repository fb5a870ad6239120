#include "systemcommand.h"

#include "logging/logline.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <memory>

#include <windows.h>

namespace {

// The job object that ends every system command when this process ends; none
// until endCommandsWithThisProcess made it.
HANDLE commandJob = nullptr;

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

// Lets the suspended command run, once in the tool's job. Without a job
// (the run has said so) or when it cannot be put there, it runs all the same.
void runInTheToolsJob(QProcess &process, const PROCESS_INFORMATION &created)
{
    const QString source = QStringLiteral("SystemProcess");
    const QString command = QFileInfo(process.program()).fileName();
    if (commandJob && !AssignProcessToJobObject(commandJob, created.hProcess)) {
        logWarning(source, QStringLiteral("%1 may outlive this run: it could not be put into "
                                          "the job object (error %2)")
                               .arg(command)
                               .arg(GetLastError()));
    }
    if (ResumeThread(created.hThread) == DWORD(-1)) {
        logWarning(source, QStringLiteral("%1 ended: it could not be resumed (error %2)")
                               .arg(command)
                               .arg(GetLastError()));
        process.kill();
    }
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
    // Qt calls it on Unix only; on Windows bindToToolLifetime does its work.
}

void SystemProcess::bindToToolLifetime()
{
    // The tool itself is in no job of its own: each command is put into the
    // job explicitly, suspended until then, so that it runs no instruction
    // outside it. By inheritance it would be in the caller's job at most, and
    // in none when that job allows silent breakaway. Qt keeps the process
    // information it fills for as long as the process lives, and reports
    // Running right after the creation, before start() returns.
    const auto created = std::make_shared<PROCESS_INFORMATION *>(nullptr);
    setCreateProcessArgumentsModifier([created](CreateProcessArguments *arguments) {
        arguments->flags |= CREATE_SUSPENDED;
        *created = arguments->processInformation;
    });
    connect(this, &QProcess::stateChanged, this, [this, created](ProcessState state) {
        if (state == Running && *created)
            runInTheToolsJob(*this, **created);
    });
}

bool endCommandsWithThisProcess()
{
    if (commandJob)
        return true;
    // The job's one handle is never closed: it closes as this process ends,
    // and the job then ends every process still in it.
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
        CloseHandle(job);
        return false;
    }
    commandJob = job;
    return true;
}
