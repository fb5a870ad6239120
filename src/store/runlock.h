#pragma once

#include "store/systemlock.h"

#include <QString>
#include <memory>

class VendorFolder;

// Runs of the tool take turns: a run started while another is at work (a
// quick disconnect and reconnect) begins only once the other has left the
// data file and the DNS servers in a settled state. The lock is one the
// operating system releases when its holder ends (systemlock.h), so a run
// killed midway or a power loss never keeps later runs out.

// How long a run waits for another to finish. A run normally takes seconds;
// it is bounded by its system commands, each given 30 s: the adapter listing
// (wmic; the native listing starts no command) and every netsh command. Five
// minutes covers nine of them timing out, the listing and eight netsh
// commands of a machine with four interfaces, without leaving the client
// waiting for ever.
const int runLockWaitMs = 5 * 60 * 1000;
const int statusLockWaitMs = 30 * 1000;

// The lock of one run, released when the object goes.
class RunLock
{
public:
    // The lock file "dns.lock" in `folder` (systemlock.h), which must
    // outlive this object.
    explicit RunLock(const VendorFolder &folder);

    // Takes the lock, waiting up to `waitMs` while another run holds it.
    // After a wait it logs "Dns: Waited N ms for another run to finish".
    // Only a lock another run holds is waited for: false, with a warning
    // naming the error, when the lock cannot be made or taken, or is still
    // held when the wait ends.
    bool take(int waitMs);

    // What takeIfFileExists found.
    enum Outcome
    {
        Taken,
        // No lock file, so no run is at work: nothing was created.
        NoLockFile,
        NotTaken
    };
    // For a reader that changes nothing: takes the lock of an existing
    // lock file, never creating it, waiting as take() does.
    Outcome takeIfFileExists(int waitMs);

private:
    QString lockFilePath() const;
    // Takes the lock on the open lock file, waiting up to `waitMs`.
    bool waitFor(int descriptor, int waitMs);

    const VendorFolder &folder;
    std::unique_ptr<SystemLock> lock;
};
