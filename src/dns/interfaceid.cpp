#include "interfaceid.h"

#include <QRegularExpression>

#include <algorithm>

bool isInterfaceGuid(const QString &id)
{
    static const QRegularExpression guid(QRegularExpression::anchoredPattern(QStringLiteral(
        "\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}")));
    return guid.match(id).hasMatch();
}

bool sameInterfaceId(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool containsId(const QStringList &ids, const QString &id)
{
    return std::any_of(ids.cbegin(), ids.cend(),
                       [&](const QString &candidate) { return sameInterfaceId(candidate, id); });
}

QStringList unitedIds(const QStringList &ids, const QStringList &more)
{
    QStringList united = ids;
    for (const QString &id : more) {
        if (!containsId(united, id))
            united.append(id);
    }
    return united;
}

QStringList idsWithout(const QStringList &ids, const QStringList &removed)
{
    QStringList kept;
    for (const QString &id : ids) {
        if (!containsId(removed, id))
            kept.append(id);
    }
    return kept;
}
