#include "interfacedns.h"

#include "utils/boundedcall.h"

// A call on its worker thread: the thread owns a reference, so that an
// abandoned call may end after the caller has gone.
struct InterfaceDns::Call
{
    QString id;
    bool ipv6 = false;
    unsigned long error = 0;
    std::unique_ptr<BoundedCall> running;
};

InterfaceDns::InterfaceDns() : function(findSetInterfaceDnsSettings()) {}

InterfaceDns::~InterfaceDns() = default;

InterfaceDns::Outcome InterfaceDns::set(const QString &id, bool ipv6, const QString &servers,
                                        int timeoutMs)
{
    auto call = std::make_shared<Call>();
    call->id = id;
    call->ipv6 = ipv6;
    call->running = std::make_unique<BoundedCall>([call, setter = function, servers] {
        call->error = setter(call->id, call->ipv6, servers);
    });
    Outcome outcome;
    if (!call->running->waitUntil(Deadline(timeoutMs))) {
        abandoned.append(call);
        outcome.kind = Outcome::TimedOut;
        return outcome;
    }
    outcome.error = call->error;
    return outcome;
}

QList<InterfaceDns::Abandoned> InterfaceDns::waitForAbandoned(Deadline deadline)
{
    QList<Abandoned> calls;
    for (const std::shared_ptr<Call> &call : qAsConst(abandoned))
        calls.append({call->id, call->ipv6, call->running->waitUntil(deadline)});
    abandoned.clear();
    return calls;
}
