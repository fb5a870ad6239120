#include "boundedcall.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

std::atomic<int> runningCalls{0};

// A wait longer than this is as good as endless, and stays clear of the
// overflow of a clock's end point computed from the largest span.
const qint64 longestWaitMs = qint64(24) * 3600 * 1000;

} // namespace

// Shared by the caller and the worker thread, so that an abandoned call may
// end after the caller has gone.
struct BoundedCall::State
{
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
};

BoundedCall::BoundedCall(std::function<void()> work) : state(std::make_shared<State>())
{
    ++runningCalls;
    worker = std::thread([state = state, work = std::move(work)] {
        work();
        std::lock_guard<std::mutex> lock(state->mutex);
        state->done = true;
        --runningCalls;
        state->ended.notify_all();
    });
}

BoundedCall::~BoundedCall()
{
    bool done = false;
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        done = state->done;
    }
    // The worker itself may hold the last reference to its call's owner.
    // A thread still ending while the process ends can crash it (seen under
    // Wine), so one whose call returned is waited for: it is past `work`.
    if (done && worker.get_id() != std::this_thread::get_id())
        worker.join();
    else
        worker.detach();
}

bool BoundedCall::waitUntil(Deadline deadline) const
{
    std::unique_lock<std::mutex> lock(state->mutex);
    return state->ended.wait_for(
        lock, std::chrono::milliseconds(qMin(deadline.remainingMs(), longestWaitMs)),
        [this] { return state->done; });
}

bool anyBoundedCallRunning()
{
    return runningCalls > 0;
}
