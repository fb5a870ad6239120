#pragma once

#include "utils/clock.h"

#include <functional>
#include <memory>
#include <thread>

// A call into a system library that can block for good, such as one that
// waits on a hung DNS Client service or adapter stack: it runs on a worker
// thread of its own, and the caller waits for it at most until a deadline.
// A call that has not returned by then is abandoned, its thread left to run,
// since no thread can be stopped safely. While one runs the process must not
// end the ordinary way, which on Windows runs the libraries' detach code and
// can wait for good on a lock the call holds: see anyBoundedCallRunning().
// The tests' in-memory machine runs the call at once in the caller's thread
// (boundedcall_mem.cpp).
class BoundedCall
{
public:
    // Starts `work`, which must touch nothing but what it owns or shares
    // through its captures: it may outlive the caller.
    explicit BoundedCall(std::function<void()> work);
    // Waits for the worker thread of a call that has returned, so that no
    // thread is still ending when the process ends; leaves an abandoned
    // call's thread to run.
    ~BoundedCall();
    BoundedCall(const BoundedCall &) = delete;
    BoundedCall &operator=(const BoundedCall &) = delete;

    // Whether `work` has returned by `deadline`. What it wrote is the
    // caller's to read only when it has.
    bool waitUntil(Deadline deadline) const;

private:
    struct State;
    std::shared_ptr<State> state;
    std::thread worker;
};

// Whether a call started in this process has not returned yet.
bool anyBoundedCallRunning();
