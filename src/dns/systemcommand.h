#pragma once

#include <QByteArray>
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

// The program of a system command (netsh, wmic, powershell, ipconfig). On
// Windows its full path in the system directory, never a search-path lookup:
// the tool runs elevated and the search path holds the current directory.
QString systemProgram(const QString &command);

// Runs the system command and waits for it at most timeoutMs; a command still
// running then is killed.
CommandOutcome runSystemCommand(const QString &command, const QStringList &arguments,
                                int timeoutMs);
