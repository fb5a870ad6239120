// NameServer parsing: the IPv4 and IPv6 stack values of one interface, as a
// vpn run records them and a reset run reads them back.
#include "dns/entries.h"
#include "dns/servers.h"
#include "property.h"
#include "utils/text.h"

#include <QStringList>

namespace {

const QString ownId = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E01}");
const QString otherId = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E02}");

void requireOnlyAddresses(const NameServerList &list, const QString &value, bool ipv4)
{
    for (const QString &server : list.servers) {
        require(isPlainAddress(server) && (ipv4 ? isIPv4(server) : isIPv6(server)),
                "the list holds plain addresses of the stack's protocol", server);
    }
    require(list.servers.size() <= maxServersPerProtocol, "at most maxServersPerProtocol servers");
    QStringList once = list.servers;
    require(once.removeDuplicates() == 0, "each server once", value);
    int addresses = 0;
    for (const QString &piece : splitNameServerValue(value)) {
        if (!isPlainAddress(piece) || (ipv4 ? !isIPv4(piece) : !isIPv6(piece)))
            continue;
        ++addresses;
        require(list.servers.contains(canonicalAddress(piece)) || list.ignored > 0,
                "every address is kept, a repeated one once, unless past the bound", value);
    }
    require(list.rejected.size() == splitNameServerValue(value).size() - addresses,
            "every other piece is rejected", value);
}

} // namespace

// The input is the IPv4 value, a newline, and the IPv6 value.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = inputText(data, size);
    const QString ipv4Value = input.section(QLatin1Char('\n'), 0, 0);
    const QString ipv6Value = input.section(QLatin1Char('\n'), 1);
    const NameServerList ipv4 = parseNameServerValue(ipv4Value, true);
    const NameServerList ipv6 = parseNameServerValue(ipv6Value, false);
    requireOnlyAddresses(ipv4, ipv4Value, true);
    requireOnlyAddresses(ipv6, ipv6Value, false);

    // Recorded beside another interface's entry, as a vpn run does, and read
    // back as a reset run does: each interface gets exactly its own servers.
    const QStringList other = {QStringLiteral("192.0.2.1")};
    const QString args = joinNonEmpty(
        {interfaceEntry(ownId, ipv4.servers, ipv6.servers), interfaceEntry(otherId, other, {})},
        QStringLiteral(";"));
    const QStringList entries = parseSavedArgs(args, QStringLiteral(";"));
    require(entries.size() == 2, "two recorded entries read back as two", args);
    const InterfaceEntry own = parseInterfaceEntry(entries.at(0));
    const InterfaceEntry second = parseInterfaceEntry(entries.at(1));
    require(own.id == ownId && own.ipv4 == ipv4.servers && own.ipv6 == ipv6.servers &&
                own.rejected.isEmpty() && own.ignoredItems == 0,
            "the saved servers come back as their own interface's entry", args);
    require(second.id == otherId && second.ipv4 == other && second.ipv6.isEmpty(),
            "the other interface's entry is untouched", args);
    return 0;
}
