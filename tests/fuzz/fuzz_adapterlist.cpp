// Adapter-list parsing: the output of the wmic listing.
#include "dns/adapterlist.h"
#include "property.h"

#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray output(reinterpret_cast<const char *>(data), int(size));
    const QSet<QString> guids = parseAdapterGuids(output);

    for (const QString &guid : guids) {
        require(guid.startsWith(QLatin1Char('{')) && guid == guid.simplified() &&
                    guid == guid.toUpper(),
                "a GUID starts with a brace, is upper case and has no blanks around it", guid);
    }
    // The GUIDs as wmic would list them are read back as the same set.
    const QStringList lines = guids.values();
    const QByteArray listing =
        "GUID    \r\r\n" + lines.join(QStringLiteral("  \r\r\n")).toUtf8() + "\r\r\n";
    require(parseAdapterGuids(listing) == guids,
            "a listing of the GUIDs reads back as the same set");
    // So does the same listing in UTF-16LE, with and without a byte order mark.
    const QString text = QString::fromUtf8(listing);
    const QByteArray utf16(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    require(parseAdapterGuids(utf16) == guids && parseAdapterGuids("\xFF\xFE" + utf16) == guids,
            "a UTF-16LE listing of the GUIDs reads back as the same set");
    return 0;
}
