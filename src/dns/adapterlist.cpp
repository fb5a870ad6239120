#include "adapterlist.h"

#include <QtGlobal>
#include <vector>

namespace {

const unsigned long firstBufferSize = 15000;
const int maxCalls = 4;

// wmic's output as text (parseAdapterGuids).
QString wmicOutputText(const QByteArray &output)
{
    const bool byteOrderMark = output.startsWith("\xFF\xFE");
    const bool utf16 =
        byteOrderMark || (output.size() >= 2 && output.at(0) != '\0' && output.at(1) == '\0');
    QString text;
    if (utf16) {
        for (int i = byteOrderMark ? 2 : 0; i + 1 < output.size(); i += 2)
            text.append(QChar(uchar(output.at(i)), uchar(output.at(i + 1))));
        // Lone surrogates are replaced: valid Unicode, as UTF-8 decoding gives.
        text = QString::fromUtf8(text.toUtf8());
    } else {
        text = QString::fromUtf8(output);
    }
    const int nul = text.indexOf(QChar(QChar::Null));
    return nul < 0 ? text : text.left(nul);
}

} // namespace

QString adapterGuidOfName(const QString &name)
{
    const QString simplified = name.simplified();
    return simplified.startsWith(QLatin1Char('{')) ? simplified.toUpper() : QString();
}

QSet<QString> parseAdapterGuids(const QByteArray &output)
{
    return adapterGuidsOfNames(wmicOutputText(output).split(QLatin1Char('\n'), Qt::SkipEmptyParts));
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
