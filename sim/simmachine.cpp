#include "simmachine.h"

#include "simregistry.h"

namespace {

const QString ethernetDevice = QStringLiteral("pci\\ven_8086&dev_15b8");

SimInterface sampleInterface(int number, const QString &name, const QString &ipv4,
                             const QString &ipv6)
{
    SimInterface interface;
    interface.guid = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E%1}")
                         .arg(number, 2, 10, QLatin1Char('0'));
    interface.name = name;
    interface.pnpInstanceId = QStringLiteral("PCI\\VEN_8086&DEV_15B8\\3&11583659&0&%1").arg(number);
    interface.matchingDeviceId = ethernetDevice;
    interface.ipv4Servers = ipv4;
    interface.ipv6Servers = ipv6;
    return interface;
}

QString adapterSubkeyName(int index)
{
    return QStringLiteral("%1").arg(index, 4, 10, QLatin1Char('0'));
}

void writeStackKey(const SimRegistry &registry, const QString &interfacesKey,
                   const SimInterface &interface, const QString &servers)
{
    const QString subkey = interface.lowerCaseStackKeys ? interface.guid.toLower() : interface.guid;
    const QString key = registry.createKey(interfacesKey + QLatin1Char('\\') + subkey);
    SimRegistry::writeValue(key, QStringLiteral("EnableDHCP"), QStringLiteral("1"));
    if (!servers.isEmpty())
        SimRegistry::writeValue(key, QStringLiteral("NameServer"), servers);
}

void writeInterface(const SimRegistry &registry, const SimInterface &interface)
{
    writeStackKey(registry, simkeys::tcpipInterfaces, interface, interface.ipv4Servers);
    writeStackKey(registry, simkeys::tcpip6Interfaces, interface, interface.ipv6Servers);
    if (!interface.connectionKey)
        return;
    const QString connection = registry.createKey(simkeys::networkConnections + QLatin1Char('\\') +
                                                  interface.guid + QStringLiteral("\\Connection"));
    SimRegistry::writeValue(connection, QStringLiteral("PnPInstanceId"), interface.pnpInstanceId);
    if (!interface.name.isEmpty())
        SimRegistry::writeValue(connection, QStringLiteral("Name"), interface.name);
}

void writeAdapter(const SimRegistry &registry, int index, const QString &deviceId,
                  const QString &instanceId)
{
    const QString key =
        registry.createKey(simkeys::adapterClass + QLatin1Char('\\') + adapterSubkeyName(index));
    SimRegistry::writeValue(key, QStringLiteral("DriverDesc"),
                            QStringLiteral("Network adapter %1").arg(index));
    SimRegistry::writeValue(key, QStringLiteral("MatchingDeviceId"), deviceId);
    SimRegistry::writeValue(key, QStringLiteral("NetCfgInstanceId"), instanceId);
}

} // namespace

QList<SimInterface> sampleInterfaces()
{
    QList<SimInterface> interfaces;
    interfaces.append(sampleInterface(1, QStringLiteral("Ethernet"),
                                      QStringLiteral("192.0.2.53,192.0.2.54"), {}));
    interfaces.append(sampleInterface(2, QStringLiteral("Wi-Fi"), {}, {}));

    SimInterface ethernet2 =
        sampleInterface(3, QStringLiteral("Ethernet 2"), QStringLiteral("198.51.100.53"),
                        QStringLiteral("2001:db8::53"));
    ethernet2.lowerCaseStackKeys = true;
    interfaces.append(ethernet2);

    SimInterface tap = sampleInterface(4, QStringLiteral("Local Area Connection"), {}, {});
    tap.pnpInstanceId = QStringLiteral("ROOT\\NET\\0000");
    tap.matchingDeviceId = QStringLiteral("tap0901");
    interfaces.append(tap);

    SimInterface kernelDebug = sampleInterface(5, QStringLiteral("Ethernet (Kernel Debugger)"),
                                               QStringLiteral("192.0.2.99"), {});
    kernelDebug.pnpInstanceId = QStringLiteral("ROOT\\KDNIC\\0000");
    kernelDebug.matchingDeviceId = QStringLiteral("root\\kdnic");
    interfaces.append(kernelDebug);

    interfaces.append(sampleInterface(6, QString(), QStringLiteral("192.0.2.77"), {}));
    return interfaces;
}

SimInterface secondTapInterface()
{
    SimInterface tap =
        sampleInterface(8, QStringLiteral("Other VPN"), QStringLiteral("10.20.0.53"), {});
    tap.pnpInstanceId = QStringLiteral("ROOT\\NET\\0001");
    tap.matchingDeviceId = QStringLiteral("tap0901");
    return tap;
}

SimInterface bareInterface()
{
    SimInterface interface =
        sampleInterface(7, QStringLiteral("Ethernet 7"), QStringLiteral("192.0.2.70"), {});
    interface.connectionKey = false;
    return interface;
}

QList<SimInterface> generatedInterfaces(int count)
{
    QList<SimInterface> interfaces;
    for (int i = 1; i <= count; ++i) {
        SimInterface interface;
        interface.guid =
            QStringLiteral("{00000000-0000-4000-8000-%1}").arg(i, 12, 10, QLatin1Char('0'));
        interface.name = QStringLiteral("Ethernet %1").arg(i);
        interface.pnpInstanceId = QStringLiteral("PCI\\VEN_8086&DEV_15B8\\4&%1").arg(i);
        interface.matchingDeviceId = ethernetDevice;
        if (i % 2 == 1)
            interface.ipv4Servers = QStringLiteral("192.0.2.1,192.0.2.2");
        interfaces.append(interface);
    }
    return interfaces;
}

void writeRegistry(const QString &root, const QList<SimInterface> &interfaces, int adapterCount)
{
    const SimRegistry registry(root);
    registry.createKey(simkeys::tcpipInterfaces);
    registry.createKey(simkeys::tcpip6Interfaces);
    registry.createKey(simkeys::networkConnections);
    registry.createKey(simkeys::adapterClass);
    for (const SimInterface &interface : interfaces)
        writeInterface(registry, interface);
    for (int index = 0; index < adapterCount; ++index) {
        if (index < interfaces.size()) {
            writeAdapter(registry, index, interfaces.at(index).matchingDeviceId,
                         interfaces.at(index).guid);
        } else {
            writeAdapter(registry, index, QStringLiteral("swd\\msrras\\ms_ndiswanip"),
                         QStringLiteral("{00000000-0000-4000-9000-%1}")
                             .arg(index, 12, 10, QLatin1Char('0')));
        }
    }
}
