#include "adapterlist.h"

#include <QtGlobal>
#include <vector>

namespace {

const unsigned long firstBufferSize = 15000;
const int maxCalls = 4;

} // namespace

QString adapterGuidOfName(const QString &name)
{
    const QString simplified = name.simplified();
    return simplified.startsWith(QLatin1Char('{')) ? simplified.toUpper() : QString();
}

QSet<QString> parseAdapterGuids(const QByteArray &output)
{
    const int nul = output.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? output : output.left(nul));
    return adapterGuidsOfNames(text.split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

QSet<QString> adapterGuidsOfNames(const QStringList &names)
{
    QSet<QString> guids;
    for (const QString &name : names) {
        const QString guid = adapterGuidOfName(name);
        if (!guid.isEmpty())
            guids.insert(guid);
    }
    return guids;
}

NativeAdapterList callGetAdaptersAddresses(const AdapterAddressesCall &call,
                                           AdapterNamesInBuffer namesIn)
{
    unsigned long size = firstBufferSize;
    // 8-byte units: the structures hold 64-bit members and pointers.
    std::vector<quint64> buffer;
    unsigned long result = adapterAddressesResult::bufferOverflow;
    for (int calls = 0; calls < maxCalls && result == adapterAddressesResult::bufferOverflow;
         ++calls) {
        buffer.assign((size + sizeof(quint64) - 1) / sizeof(quint64), 0);
        result = call(buffer.data(), &size);
    }
    if (result == adapterAddressesResult::success)
        return {namesIn(buffer.data()), QString()};
    if (result == adapterAddressesResult::noData)
        return {};
    return {{}, QStringLiteral("returned error %1").arg(result)};
}
