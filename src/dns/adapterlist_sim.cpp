// The native lister on the simulated machine: GetAdaptersAddresses of its
// stand-in iphlpapi, ROOT/lib/libiphlpapi.so.
#include "adapterlist.h"

#include "adapteraddresses.h"
#include "simregistry.h"

#include <QFile>
#include <dlfcn.h>

NativeAdapterList listAdaptersNatively()
{
    const QByteArray path = QFile::encodeName(SimRegistry::rootFromEnvironment() +
                                              QStringLiteral("/lib/libiphlpapi.so"));
    void *library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        return {{},
                QStringLiteral("failed loading iphlpapi.dll: %1")
                    .arg(QString::fromLocal8Bit(dlerror()))};
    }
    const auto function =
        reinterpret_cast<SimGetAdaptersAddresses>(dlsym(library, "GetAdaptersAddresses"));
    NativeAdapterList listed{{}, QStringLiteral("not in iphlpapi.dll")};
    if (function) {
        listed = callGetAdaptersAddresses(
            [function](void *buffer, unsigned long *size) {
                return function(simiphlpapi::afUnspec, 0, nullptr,
                                static_cast<SimAdapterAddresses *>(buffer), size);
            },
            adapterNamesIn<SimAdapterAddresses>);
    }
    dlclose(library);
    return listed;
}
