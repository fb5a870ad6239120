// Entry parsing: one command-line word read as an interface entry.
#include "app/entries.h"
#include "property.h"
#include "utils/text.h"

#include <arpa/inet.h>

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString word = inputText(data, size);
    const ParsedEntry entry = parseInterfaceEntry(word);

    require(entry.id == word.section(QLatin1Char('@'), 0, 0),
            "the ID is the text before the first @");
    for (const QString &address : entry.ipv4)
        require(isPlainAddress(address) && isIPv4(address), "IPv4 list holds plain IPv4 only",
                address);
    for (const QString &address : entry.ipv6)
        require(isPlainAddress(address) && isIPv6(address), "IPv6 list holds plain IPv6 only",
                address);
    require(entry.ipv4.size() + entry.ipv6.size() + entry.rejected.size() <= maxItemsPerEntry,
            "at most maxItemsPerEntry items are read");

    // The entry as the data file records it reads back as the same entry.
    const ParsedEntry reread =
        parseInterfaceEntry(interfaceEntry(entry.id, entry.ipv4, entry.ipv6));
    require(reread.id == entry.id && reread.ipv4 == entry.ipv4 && reread.ipv6 == entry.ipv6 &&
                reread.rejected.isEmpty() && reread.ignoredItems == 0,
            "a recorded entry reads back as itself", word);

    // A plain address is exactly what inet_pton accepts (which stops at NUL).
    for (const QString &item : word.split(QRegularExpression(QStringLiteral("[@,]")))) {
        if (!item.contains(QChar(0)))
            require(isPlainAddress(item) == inetPtonAccepts(item.toUtf8()),
                    "isPlainAddress agrees with inet_pton", item);
    }
    return 0;
}
