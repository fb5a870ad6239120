#pragma once

#include "store/systemlock.h"

#include <QString>
#include <functional>
#include <memory>

class VendorFolder;

// Runs of the tool take turns: a run started while another is at work (a
// quick disconnect and reconnect) begins only once the other has left the
// data file and the DNS servers in a settled state. The lock is one the
// operating system releases when its holder ends (systemlock.h), so a run
// killed midway or a power loss never keeps later runs out.

// How long after it took the lock a run may still start a system command
// (netsh, wmic, the fallback flush's ipconfig); the direct flush through
// dnsapi still runs. A run on a machine of many interfaces whose commands
// hang (each is given 30 s) would otherwise hold the lock for many minutes,
// and a switch back waiting behind it would give up. What is not done by
// then stays recorded as switched, for the next switch back.
const int runDeadlineMs = 3 * 60 * 1000;

// The longest a run holds the lock: its deadline, then the last command
// started before it (30 s, and 5 s for its end once killed) and the fallback
// flush's 10 s wait, with a margin.
const int longestRunMs = runDeadlineMs + 60 * 1000;

// How long a run waits for another to finish. Only the run at work and the
// latest request ever wait (runorder.h), so this covers the longest run
// twice over.
const int runLockWaitMs = 10 * 60 * 1000;
static_assert(runLockWaitMs >= 2 * longestRunMs, "a waiting run outlasts the run at work");

// How long `status` waits for the run lock: it takes no request number and
// reports rather than changes, so it need not wait for a run to end.
const int statusLockWaitMs = 30 * 1000;

// What a run that waits for the lock is to do now (runorder.h): try the
// lock, wait without trying it, or give up, yielding to a later request.
enum class Turn
{
    Go,
    Wait,
    Yield
};

// The lock of one run, released when the object goes.
class RunLock
{
public:
    // The lock file "dns.lock" in `folder` (systemlock.h), which must
    // outlive this object.
    explicit RunLock(const VendorFolder &folder);

    // Takes the lock, waiting up to `waitMs` while another run holds it or
    // `turn`, asked before each try, says to wait. After a wait it logs
    // "Dns: Waited N ms for another run to finish". Only a lock another run
    // holds is waited for: false, with a warning naming the error, when the
    // lock cannot be made or taken, or the wait ends first; false without
    // one as soon as `turn` says to yield.
    bool take(int waitMs, const std::function<Turn()> &turn = {});
    // Gives the lock back, for a run that took it and must still wait.
    void release() { lock.reset(); }

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
    // Takes the lock on the open lock file, waiting up to `waitMs` or until
    // `turn` says to yield.
    bool waitFor(int descriptor, int waitMs, const std::function<Turn()> &turn);

    const VendorFolder &folder;
    std::unique_ptr<SystemLock> lock;
};
