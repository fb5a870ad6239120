// Stand-in for dnsapi.dll: DnsFlushResolverCache journals its call as
// "dnsapi" and "DnsFlushResolverCache", and obeys ROOT/faults/dnsapi:
// "fail" returns FALSE with errno EIO, "hang" hangs as a command that never
// answers does (standin.h) before it succeeds, "crash" ends the calling
// process; otherwise it succeeds.
#include "simregistry.h"
#include "standin.h"
#include "standinplatform.h"

#include <cerrno>

extern "C" __attribute__((visibility("default"))) unsigned int DnsFlushResolverCache()
{
    const QString root = SimRegistry::rootFromEnvironment();
    const QStringList call = {QStringLiteral("DnsFlushResolverCache")};
    const QString name = QStringLiteral("dnsapi");
    appendToJournal(root, name, call);
    const QString action = faultAction(root, name, call);
    if (action == QLatin1String("crash"))
        crash();
    if (action == QLatin1String("hang"))
        hang(root);
    if (action == QLatin1String("fail")) {
        errno = EIO;
        return 0;
    }
    return 1;
}
