// The simulated machine's dnsapi is ROOT/lib/libdnsapi.so; errno stands in for
// the Windows error number.
#include "flush.h"

#include "simregistry.h"

#include <QFile>
#include <cerrno>
#include <dlfcn.h>

namespace {

using FlushFunction = unsigned int (*)();

ResolverCacheFlush failedLookup(const char *step)
{
    const FlushOutcome outcome{QString::fromLatin1(step), static_cast<unsigned long>(errno)};
    return [outcome] {
        return outcome;
    };
}

} // namespace

ResolverCacheFlush findResolverCacheFlush()
{
    const QByteArray path =
        QFile::encodeName(SimRegistry::rootFromEnvironment() + QStringLiteral("/lib/libdnsapi.so"));
    errno = 0;
    // Never closed: an abandoned flush may still run in it.
    void *library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return failedLookup("Failed loading dnsapi.dll");
    errno = 0;
    const auto flush = reinterpret_cast<FlushFunction>(dlsym(library, "DnsFlushResolverCache"));
    if (!flush)
        return failedLookup("Failed loading function for dnsapi.dll");
    return [flush] {
        errno = 0;
        if (flush() != 0)
            return FlushOutcome();
        return FlushOutcome{QStringLiteral("Failed execute function"),
                            static_cast<unsigned long>(errno)};
    };
}
