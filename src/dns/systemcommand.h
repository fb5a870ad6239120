#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

// How a system command that was awaited ended.
struct CommandOutcome
{
    bool started = false;
    bool timedOut = false;
    bool crashed = false;
    int exitCode = 0;
    QByteArray output; // standard output

    // Started, ended in time, normal exit with code 0.
    bool succeeded() const;
    // What went wrong, for log lines: "failed to start", "timed out after
    // 30000 ms", "crashed" or "exited with code N".
    QString failureText(int timeoutMs) const;
};

// The program of a system command (netsh, wmic, ipconfig). On
// Windows its full path in the system directory, never a search-path lookup:
// the tool runs elevated and the search path holds the current directory.
// "" when the system directory is unknown: the command then fails to start.
QString systemProgram(const QString &command);

// The process of a system command. No command outlives the tool, however
// the tool ends (killed, crashed): an orphaned netsh could still change the
// registry after the next run began. On the simulated machine each command
// is told in setupChildProcess to end with the tool. On Windows each command
// starts suspended and runs only once it is in the tool's job object
// (endCommandsWithThisProcess), which ends it with the tool; one that cannot
// be put there runs all the same, with a warning that says why.
class SystemProcess : public QProcess
{
public:
    SystemProcess();

protected:
    void setupChildProcess() override;

private:
    // What the platform does to bind each command to the tool's lifetime
    // before the command runs, beside setupChildProcess.
    void bindToToolLifetime();

    const qint64 toolProcessId;
};

// Makes the job object that ends every system command when this process ends
// (Windows); nothing on the simulated machine, where SystemProcess sees to
// it. False when that is not possible.
bool endCommandsWithThisProcess();

// One start of `program`, awaited at most timeoutMs as runSystemCommand
// describes: a SystemProcess (commandrun.cpp), or the tests' in-memory
// machine answering in its place (commandrun_mem.cpp).
CommandOutcome runCommandOnce(const QString &program, const QStringList &arguments, int timeoutMs);

// Runs the system command and waits for it at most timeoutMs; a command still
// running then is killed. One that did not start is started once more, with a
// warning, when its program is there. One without a program (systemProgram)
// is not started: its outcome reads "failed to start".
CommandOutcome runSystemCommand(const QString &command, const QStringList &arguments,
                                int timeoutMs);
