#pragma once

#include "utils/clock.h"
#include <QList>
#include <QString>
#include <functional>
#include <memory>

// One protocol's whole list of DNS servers of one interface, set in the
// tool's own process through SetInterfaceDnsSettings of iphlpapi.dll
// (Windows 10 2004 and later; the simulated machine's stand-in where it
// exports it), rather than by a netsh command per server. The call runs on
// a worker thread that the caller waits for at most a time-out: a call that
// does not return is abandoned, and may still change the list later.

// The function as found in the system's iphlpapi.dll: it sets the list of
// the interface with the GUID `id` (IPv6 when `ipv6`) to `servers`, joined
// by commas, and returns Windows' error code, 0 on success. Empty where the
// library lacks it.
using SetInterfaceDns =
    std::function<unsigned long(const QString &id, bool ipv6, const QString &servers)>;
SetInterfaceDns findSetInterfaceDnsSettings();

class InterfaceDns
{
public:
    // Finds the function once.
    InterfaceDns();
    ~InterfaceDns();

    bool isAvailable() const { return bool(function); }

    struct Outcome
    {
        enum
        {
            Returned,
            TimedOut
        } kind = Returned;
        unsigned long error = 0; // Windows' code when Returned
    };
    // Calls the function and waits for it at most `timeoutMs`.
    Outcome set(const QString &id, bool ipv6, const QString &servers, int timeoutMs);

    // The calls that did not return in time, each with what was asked.
    struct Abandoned
    {
        QString id;
        bool ipv6 = false;
        bool returned = false; // by the end of waitForAbandoned
    };
    // Waits for them until `deadline`; what became of each.
    QList<Abandoned> waitForAbandoned(Deadline deadline);

private:
    struct Call;
    SetInterfaceDns function;
    QList<std::shared_ptr<Call>> abandoned;
};
