// SetInterfaceDnsSettings of the tests' in-memory machine, called in the
// caller's thread on the virtual clock: a call that hangs costs its
// time-out and nothing else, and lands half a second after it, as the
// stand-in's does, when the run waits that long for it (else at the run's
// end, as a call that outlives the tool).
#include "interfacedns.h"

#include "memmachine.h"

struct InterfaceDns::Call
{
    QString id;
    bool ipv6 = false;
    qint64 returnsAtMs = 0;
};

SetInterfaceDns findSetInterfaceDnsSettings()
{
    if (!MemMachine::current().withDnsApi)
        return {};
    return [](const QString &id, bool ipv6, const QString &servers) {
        return MemMachine::current().setInterfaceDns(id, ipv6, servers).value_or(0);
    };
}

InterfaceDns::InterfaceDns() : function(findSetInterfaceDnsSettings()) {}

InterfaceDns::~InterfaceDns() = default;

InterfaceDns::Outcome InterfaceDns::set(const QString &id, bool ipv6, const QString &servers,
                                        int timeoutMs)
{
    MemMachine &machine = MemMachine::current();
    const std::optional<unsigned long> error = machine.setInterfaceDns(id, ipv6, servers);
    Outcome outcome;
    if (error) {
        outcome.error = *error;
        return outcome;
    }
    machine.advanceClock(timeoutMs);
    auto call = std::make_shared<Call>();
    call->id = id;
    call->ipv6 = ipv6;
    call->returnsAtMs = machine.nowMs() + 500;
    abandoned.append(call);
    outcome.kind = Outcome::TimedOut;
    return outcome;
}

QList<InterfaceDns::Abandoned> InterfaceDns::waitForAbandoned(Deadline deadline)
{
    MemMachine &machine = MemMachine::current();
    QList<Abandoned> calls;
    for (const std::shared_ptr<Call> &call : qAsConst(abandoned)) {
        const bool returned = call->returnsAtMs - machine.nowMs() <= deadline.remainingMs();
        machine.advanceClock(qMin(call->returnsAtMs - machine.nowMs(), deadline.remainingMs()));
        calls.append({call->id, call->ipv6, returned});
    }
    if (!abandoned.isEmpty())
        machine.landLateWrites();
    abandoned.clear();
    return calls;
}
