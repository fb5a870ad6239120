#include "adapterlist.h"

#include <QStringList>

QSet<QString> parseAdapterGuids(const QByteArray &output)
{
    const int nul = output.indexOf('\0');
    const QString text = QString::fromUtf8(nul < 0 ? output : output.left(nul));
    QSet<QString> guids;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString simplified = line.simplified();
        if (simplified.startsWith(QLatin1Char('{')))
            guids.insert(simplified.toUpper());
    }
    return guids;
}
