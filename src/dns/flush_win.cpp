#include "flush.h"

#include <windows.h>

namespace {

// DnsFlushResolverCache is exported by dnsapi.dll but not documented by
// Microsoft: its signature (no argument, a BOOL that is TRUE on success) is
// what "ipconfig /flushdns" is known to rely on, not a published contract.
using FlushFunction = BOOL(WINAPI *)();

ResolverCacheFlush failedLookup(const char *step)
{
    const FlushOutcome outcome{QString::fromLatin1(step), GetLastError()};
    return [outcome] {
        return outcome;
    };
}

} // namespace

ResolverCacheFlush findResolverCacheFlush()
{
    // Qt Network imports dnsapi.dll, so Windows loaded it when the tool
    // started, and this returns that module whichever folder it came from:
    // the flag protects nothing here. What keeps a planted dnsapi.dll out is
    // the tool's folder, which only administrators may write; a planted
    // import would have run before main. Never freed: an abandoned flush may
    // still run in it.
    HMODULE library = LoadLibraryExA("dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library)
        return failedLookup("Failed loading dnsapi.dll");
    // Through a generic function pointer type, which is how GetProcAddress
    // results are meant to be converted.
    const auto flush = reinterpret_cast<FlushFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DnsFlushResolverCache")));
    if (!flush)
        return failedLookup("Failed loading function for dnsapi.dll");
    return [flush] {
        if (flush())
            return FlushOutcome();
        return FlushOutcome{QStringLiteral("Failed execute function"), GetLastError()};
    };
}
