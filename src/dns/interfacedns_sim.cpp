// SetInterfaceDnsSettings of the simulated machine's stand-in iphlpapi,
// ROOT/lib/libiphlpapi.so, which only a machine made --with-dns-api exports.
#include "interfacedns.h"

#include "interfacednssettings.h"
#include "simregistry.h"

#include <QFile>
#include <QUuid>
#include <dlfcn.h>

SetInterfaceDns findSetInterfaceDnsSettings()
{
    const QByteArray path = QFile::encodeName(SimRegistry::rootFromEnvironment() +
                                              QStringLiteral("/lib/libiphlpapi.so"));
    // Kept loaded for the process: an abandoned call may still run in it.
    void *library = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    const auto function = library ? reinterpret_cast<SimSetInterfaceDnsSettings>(
                                        dlsym(library, "SetInterfaceDnsSettings"))
                                  : nullptr;
    if (!function)
        return {};
    return [function](const QString &id, bool ipv6, const QString &servers) {
        const QUuid uuid(id);
        SimGuid guid = {uuid.data1, uuid.data2, uuid.data3, {}};
        std::copy(std::begin(uuid.data4), std::end(uuid.data4), guid.data4);
        std::u16string nameServer = servers.toStdU16String();
        SimDnsInterfaceSettings settings = {};
        settings.version = simdnssettings::version1;
        settings.flags = simdnssettings::nameServer | (ipv6 ? simdnssettings::ipv6 : 0);
        settings.nameServer = nameServer.data();
        return function(guid, &settings);
    };
}
