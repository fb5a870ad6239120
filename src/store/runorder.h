#pragma once

#include <QtGlobal>
#include <optional>

class VendorFolder;

// The order in which runs were requested, so that the latest request wins:
// a client that disconnects and reconnects quickly starts a switch back and
// a switch to the VPN within moments, and the runs must not take effect in
// another order than the client asked for them. Each run takes the next
// number of a counter in the file "dns.order" of the vendor folder before it
// waits for the run lock; a run that then sees a higher number taken yields
// to that later request. So only the run at work and the latest request ever
// wait. The counter never uses the clock, which can step back.
//
// The file is opened as the run lock is (FileUse::Lock: checked, readable by
// trusted accounts only) and locked while it is read or written, a few
// milliseconds, by a lock of its own (SystemLock): never the run lock,
// which a run at work holds for its whole run.
class RunOrder
{
public:
    // The counter in `folder`, which must outlive this object.
    explicit RunOrder(const VendorFolder &folder);

    // Takes the next number; none, with a warning, when the counter cannot be
    // opened, locked, read or written.
    std::optional<quint64> takeNumber() const;
    // True when a number higher than `number` has been taken: a later request
    // is waiting or has run. False when the counter cannot be read.
    bool isTakenAfter(quint64 number) const;

private:
    // The counter's value, or nothing when it cannot be read; with `next`,
    // the value is raised by one first and the new value written.
    std::optional<quint64> access(bool next) const;

    const VendorFolder &folder;
};
