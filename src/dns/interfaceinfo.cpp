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

VpnAdapters VpnAdapters::read()
{
    VpnAdapters found;
    RegistryKey adapters(adapterClassKey);
    for (const QString &adapter : adapters.subkeys()) {
        adapters.enter(adapter);
        if (adapters.valueNames().contains(deviceIdValue) &&
            adapters.value(deviceIdValue) == tapDeviceId)
            found.lowerCaseIds.insert(adapters.value(instanceIdValue).toLower());
        adapters.leave();
    }
    return found;
}

VpnAdapters VpnAdapters::ownedBy(const QStringList &candidates) const
{
    VpnAdapters owned = *this;
    for (const QString &id : candidates) {
        if (isTapAdapter(id))
            owned.ownId = id.toLower();
    }
    return owned;
}

bool VpnAdapters::contains(const QString &id) const
{
    return ownId.isEmpty() ? isTapAdapter(id) : id.toLower() == ownId;
}

bool VpnAdapters::isTapAdapter(const QString &id) const
{
    return lowerCaseIds.contains(id.toLower());
}

InterfaceInfo::InterfaceInfo(const QString &id, const QString &name, const QStringList &ipv4Dns,
                             const QStringList &ipv6Dns, const VpnAdapters &vpnAdapters)
    : ipv4Servers(ipv4Dns), ipv6Servers(ipv6Dns), interfaceId(id), connectionName(name)
{
    detectVpnAdapter(vpnAdapters);
}

void InterfaceInfo::detectVpnAdapter(const VpnAdapters &vpnAdapters)
{
    vpn = vpnAdapters.contains(interfaceId);
}
