#pragma once

#include <QString>
#include <functional>

// DnsFlushResolverCache of dnsapi.dll, which flushes the system's DNS
// resolver cache.

// How a flush went: on failure the step that failed, as the log names it
// ("Failed loading dnsapi.dll", ...), and the system error number.
struct FlushOutcome
{
    QString failure; // empty when the function was called and succeeded
    unsigned long error = 0;
};

// A flush, safe to run on a worker thread: it writes no log line.
using ResolverCacheFlush = std::function<FlushOutcome()>;

// Looks the function up, once, when a run starts: a lookup later, after a
// call into a system library was abandoned, could wait for good on the
// loader lock that call may hold. Where the lookup fails, the flush returned
// tells why.
ResolverCacheFlush findResolverCacheFlush();
