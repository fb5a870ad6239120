// The simulated machine's dnsapi is ROOT/lib/libdnsapi.so; errno stands in for
// the Windows error number.
#include "flush.h"

#include "flushwarning.h"
#include "simregistry.h"

#include <QFile>
#include <cerrno>
#include <dlfcn.h>

namespace {

using FlushFunction = unsigned int (*)();

} // namespace

bool flushResolverCache()
{
    const QByteArray path =
        QFile::encodeName(SimRegistry::rootFromEnvironment() + QStringLiteral("/lib/libdnsapi.so"));
    errno = 0;
    void *library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        logFlushFailure(QStringLiteral("Failed loading dnsapi.dll"), errno);
        return false;
    }
    errno = 0;
    const auto flush = reinterpret_cast<FlushFunction>(dlsym(library, "DnsFlushResolverCache"));
    if (!flush) {
        logFlushFailure(QStringLiteral("Failed loading function for dnsapi.dll"), errno);
        dlclose(library);
        return false;
    }
    errno = 0;
    const unsigned int result = flush();
    if (result == 0)
        logFlushFailure(QStringLiteral("Failed execute function"), errno);
    dlclose(library);
    return result != 0;
}
