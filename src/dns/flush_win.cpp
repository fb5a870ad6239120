#include "flush.h"

#include "flushwarning.h"

#include <windows.h>

namespace {

// DnsFlushResolverCache is exported by dnsapi.dll but not documented by
// Microsoft: its signature (no argument, a BOOL that is TRUE on success) is
// what "ipconfig /flushdns" is known to rely on, not a published contract.
// A FALSE answer, or a missing function, falls back on that command.
using FlushFunction = BOOL(WINAPI *)();

} // namespace

bool flushResolverCache()
{
    // Loaded already: Qt Network imports dnsapi.dll, so Windows resolved it
    // when the tool started, from the deploy folder first, whose protection
    // (only administrators may write it) is what keeps a planted one out.
    // The system directory alone is searched here all the same.
    HMODULE library = LoadLibraryExA("dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!library) {
        logFlushFailure(QStringLiteral("Failed loading dnsapi.dll"), GetLastError());
        return false;
    }
    // Through a generic function pointer type, which is how GetProcAddress
    // results are meant to be converted.
    const auto flush = reinterpret_cast<FlushFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(library, "DnsFlushResolverCache")));
    if (!flush) {
        logFlushFailure(QStringLiteral("Failed loading function for dnsapi.dll"), GetLastError());
        FreeLibrary(library);
        return false;
    }
    const BOOL result = flush();
    if (result == 0)
        logFlushFailure(QStringLiteral("Failed execute function"), GetLastError());
    FreeLibrary(library);
    return result != 0;
}
