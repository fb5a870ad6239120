#pragma once

#include "store/runlock.h"

#include <QtGlobal>
#include <functional>
#include <optional>

class VendorFolder;

// The order in which runs were requested, so that the latest request wins:
// a client that disconnects and reconnects quickly starts a switch back and
// a switch to the VPN within moments, and the runs must not take effect in
// another order than the client asked for them. The counter never uses the
// clock, which can step back.
//
// Each run takes the next number of a counter, the first line of the file
// "dns.order" in the vendor folder (the one earlier versions read), before
// it waits for the run lock. A vpn or reset run yields only to a later vpn
// or reset, which will do its work: it does not try the run lock while one
// is alive, and ends once the second line of "dns.order", which each vpn or
// reset raises to its own number as it takes the lock to work, exceeds its
// number. A user run yields to any later request, and waits while an earlier
// vpn or reset is alive, so that it never makes one yield. Among runs that
// do not yield the lock goes in number order, so a run waits for at most the
// run at work and one other.
//
// A run is alive while it holds the lock of one byte of "dns.alive", at its
// number for a vpn or reset and at 2^62 plus its number for a user run. The
// system drops that lock when the run ends, however it ends (systemlock.h):
// a later request killed while it waits makes nobody yield. A run killed
// after it took the lock to work is a withdrawn request.
//
// A counter that does not read, whose numbers reach the bytes of user runs,
// or whose second line is above its first, holds no number a request took:
// it is repaired, with a warning, to go on above both lines, its second
// line read as 0.
//
// Both files are opened as the run lock is (FileUse::Lock: checked, readable
// by trusted accounts only). "dns.order" is locked while it is read or
// written, a few milliseconds, by a lock of its own (SystemLock): never the
// run lock, which a run at work holds for its whole run. A number is taken
// and its byte locked, and other runs' bytes tested, only under that lock.
class RunOrder
{
public:
    enum Kind
    {
        // vpn or reset: a run that does all a later one of its kind would.
        SwitchRun,
        UserRun
    };

    // The counter in `folder`, which must outlive this object, for a run of
    // `kind`.
    RunOrder(const VendorFolder &folder, Kind kind);
    // Unlocks its byte and closes "dns.alive": the run is no longer alive.
    ~RunOrder();
    RunOrder(const RunOrder &) = delete;
    RunOrder &operator=(const RunOrder &) = delete;

    // Takes the next number and marks the run alive; with a warning, none
    // when either file cannot be opened, locked, read or written: the run
    // then neither yields nor waits for anyone but the run at work.
    void takeNumber();
    // Whether the run may try the run lock now, waits, or yields.
    Turn turn() const;
    // With the run lock held: turn() once more, since the lock may have come
    // free for a run that must still wait or yield; with Go, a vpn or reset
    // records that it works.
    Turn startWork() const;

private:
    struct Counter
    {
        quint64 taken = 0;   // the last number taken
        quint64 working = 0; // the last vpn or reset that took the lock to work
    };

    // Runs `step` on the counter under its lock and writes it back when
    // `step` changed it; false when it cannot be opened, locked, read or
    // written.
    bool withCounter(const std::function<void(Counter &)> &step) const;
    Turn turnAt(const Counter &counter) const;
    // Whether another run holds a byte of [first, last] of "dns.alive".
    bool isAnyAlive(quint64 first, quint64 last) const;

    const VendorFolder &folder;
    const Kind kind;
    std::optional<quint64> number;
    int alive = -1;                    // "dns.alive", open for the whole run
    std::optional<quint64> lockedByte; // the byte of it that marks this run alive
};
