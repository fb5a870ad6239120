// Entry parsing: one command-line word read as an interface entry.
#include "dns/entries.h"
#include "property.h"
#include "utils/text.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

#include <QRegularExpression>
#include <QStringList>

namespace {

// What inet_pton accepts as an IPv4 or IPv6 address.
bool inetPtonAccepts(const QByteArray &text)
{
    unsigned char address[16];
    return inet_pton(AF_INET, text.constData(), address) == 1 ||
           inet_pton(AF_INET6, text.constData(), address) == 1;
}

// The canonical form of a plain IPv6 address is plain, stands for the same
// address, is its own canonical form, and is what the C library writes,
// except for an address whose first 96 bits are zero: the library writes its
// last 32 bits in IPv4 form, which RFC 5952 keeps for IPv4-mapped ones.
void checkCanonicalIPv6(const QString &item)
{
    const QString canonical = canonicalAddress(item);
    unsigned char given[16];
    unsigned char written[16];
    require(isPlainAddress(canonical) &&
                inet_pton(AF_INET6, item.toUtf8().constData(), given) == 1 &&
                inet_pton(AF_INET6, canonical.toUtf8().constData(), written) == 1 &&
                memcmp(given, written, 16) == 0 && canonicalAddress(canonical) == canonical,
            "the canonical form is the same address, once", item);
    char library[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, given, library, sizeof(library));
    const bool compatible =
        std::all_of(given, given + 12, [](unsigned char byte) { return byte == 0; });
    require(compatible || canonical == QString::fromLatin1(library),
            "the canonical form is the C library's", item);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString word = inputText(data, size);
    InterfaceEntry entry = parseInterfaceEntry(word);

    require(entry.id == word.section(QLatin1Char('@'), 0, 0).trimmed(),
            "the ID is the text before the first @, trimmed");
    for (const QString &address : entry.ipv4)
        require(isPlainAddress(address) && isIPv4(address), "IPv4 list holds plain IPv4 only",
                address);
    for (const QString &address : entry.ipv6)
        require(isPlainAddress(address) && isIPv6(address), "IPv6 list holds plain IPv6 only",
                address);
    require(entry.ipv4.size() + entry.ipv6.size() + entry.rejected.size() <= maxItemsPerEntry,
            "at most maxItemsPerEntry items are read");

    // The entry as the data file records it reads back as the same entry,
    // whole just when it was, so that a typo is never restored.
    const InterfaceEntry reread = parseInterfaceEntry(formatInterfaceEntry(entry));
    require(reread.id == entry.id && reread.ipv4 == entry.ipv4 && reread.ipv6 == entry.ipv6 &&
                reread.isWhole() == entry.isWhole() && reread.ignoredItems == 0,
            "a recorded entry reads back as itself", word);
    require(entry.ipv4.removeDuplicates() + entry.ipv6.removeDuplicates() == 0,
            "a server counts once", word);

    // A plain address is exactly what inet_pton accepts (which stops at NUL).
    for (const QString &item : word.split(QRegularExpression(QStringLiteral("[@,]")))) {
        if (item.contains(QChar(0)))
            continue;
        require(isPlainAddress(item) == inetPtonAccepts(item.toUtf8()),
                "isPlainAddress agrees with inet_pton", item);
        if (isPlainAddress(item) && isIPv6(item))
            checkCanonicalIPv6(item);
    }
    return 0;
}
