#include "interfacedns.h"

#include <condition_variable>
#include <mutex>
#include <thread>

// A call on its worker thread: the thread owns a reference, so that an
// abandoned call may end after the caller has gone.
struct InterfaceDns::Call
{
    QString id;
    bool ipv6 = false;
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    unsigned long error = 0;

    bool waitUntil(Deadline deadline)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return ended.wait_for(lock, std::chrono::milliseconds(deadline.remainingMs()),
                              [this] { return done; });
    }
};

InterfaceDns::InterfaceDns() : function(findSetInterfaceDnsSettings()) {}

InterfaceDns::~InterfaceDns() = default;

InterfaceDns::Outcome InterfaceDns::set(const QString &id, bool ipv6, const QString &servers,
                                        int timeoutMs)
{
    auto call = std::make_shared<Call>();
    call->id = id;
    call->ipv6 = ipv6;
    // The thread is detached: a call that never returns must not keep the
    // tool from ending.
    std::thread([call, setter = function, servers] {
        const unsigned long error = setter(call->id, call->ipv6, servers);
        std::lock_guard<std::mutex> lock(call->mutex);
        call->error = error;
        call->done = true;
        call->ended.notify_all();
    }).detach();
    Outcome outcome;
    if (!call->waitUntil(Deadline(timeoutMs))) {
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
        calls.append({call->id, call->ipv6, call->waitUntil(deadline)});
    abandoned.clear();
    return calls;
}
