// Saved-Args parsing: the "Args" value of the data file read as entries.
#include "dns/entries.h"
#include "property.h"
#include "utils/text.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString separator = QStringLiteral(";");
    const QStringList entries = parseSavedArgs(inputText(data, size), separator);

    for (const QString &entry : entries) {
        require(!entry.isEmpty() && entry == entry.trimmed() && !entry.contains(separator),
                "entries are trimmed, not empty and hold no separator", entry);
    }
    require(parseSavedArgs(joinNonEmpty(entries, separator), separator) == entries,
            "the entries as written read back as themselves");

    // Each entry, read and recorded again, reads back as the same entry.
    QStringList recorded;
    for (const QString &entry : entries) {
        const InterfaceEntry parsed = parseInterfaceEntry(entry);
        recorded.append(interfaceEntry(parsed.id, parsed.ipv4, parsed.ipv6));
    }
    const QStringList reread = parseSavedArgs(joinNonEmpty(recorded, separator), separator);
    require(reread.size() == entries.size(), "every recorded entry is read back");
    for (int i = 0; i < entries.size(); ++i) {
        const InterfaceEntry first = parseInterfaceEntry(entries.at(i));
        const InterfaceEntry second = parseInterfaceEntry(reread.at(i));
        require(first.id == second.id && first.ipv4 == second.ipv4 && first.ipv6 == second.ipv6,
                "a recorded entry reads back as the same entry", entries.at(i));
    }
    return 0;
}
