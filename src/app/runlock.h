#pragma once

#include <QLockFile>
#include <QString>

// Runs of the tool are serialized through a lock file in the vendor folder:
// a run started while another is at work (a quick disconnect and reconnect)
// begins only once the other has left the data file and the DNS servers in
// a settled state.

// How long a run waits for another to finish. A run normally takes seconds;
// it is bounded by its system commands, each given 30 s: the adapter listing
// (wmic, then powershell) and every netsh command. Five minutes covers ten of
// them timing out, the adapter listing and eight netsh commands of a machine
// with four interfaces, without leaving the client waiting for ever.
const int runLockWaitMs = 5 * 60 * 1000;

// "dns.lock" in the vendor folder, with native separators; empty when the
// vendor folder is not trusted, so that the lock cannot be taken and the run
// changes nothing.
QString runLockPath();

// The lock of one run, released when the object goes.
class RunLock
{
public:
    explicit RunLock(const QString &path);

    // Takes the lock, waiting up to `waitMs` while a running process holds
    // it; a lock left by a process that is gone is taken over at once. After
    // a wait it logs "Dns: Waited N ms for another run to finish". False,
    // with a warning, when the lock cannot be created or is still held when
    // the wait ends.
    bool take(int waitMs);

private:
    const QString path;
    QLockFile lockFile;
};
