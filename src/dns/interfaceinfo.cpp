#include "interfaceinfo.h"

#include "utils/registry.h"

namespace {

const QString adapterClassKey =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-"
                   "11CE-BFC1-08002BE10318}");
const QString deviceIdValue = QStringLiteral("MatchingDeviceId");
const QString tapDeviceId = QStringLiteral("tap0901");
const QString instanceIdValue = QStringLiteral("NetCfgInstanceId");

} // namespace

InterfaceInfo::InterfaceInfo(const QString &id, const QString &name, const QStringList &ipv4Dns,
                             const QStringList &ipv6Dns)
    : ipv4Servers(ipv4Dns), ipv6Servers(ipv6Dns), interfaceId(id), connectionName(name)
{
    detectVpnAdapter();
}

void InterfaceInfo::detectVpnAdapter()
{
    RegistryKey adapters(adapterClassKey);
    const QString ownId = interfaceId.toLower();
    for (const QString &adapter : adapters.subkeys()) {
        adapters.enter(adapter);
        if (adapters.valueNames().contains(deviceIdValue) &&
            adapters.value(deviceIdValue) == tapDeviceId &&
            adapters.value(instanceIdValue).toLower() == ownId)
            vpn = true;
        adapters.leave();
    }
}
