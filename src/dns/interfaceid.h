#pragma once

#include <QString>
#include <QStringList>

// Interface IDs: adapter GUIDs with braces. Windows ignores their letter case,
// and registry keys keep whichever case they were created with, so IDs are
// always compared ignoring it.

bool sameInterfaceId(const QString &a, const QString &b);
bool containsId(const QStringList &ids, const QString &id);
// `ids`, then the IDs of `more` that it lacks.
QStringList unitedIds(const QStringList &ids, const QStringList &more);
// The IDs of `ids` that `removed` lacks.
QStringList idsWithout(const QStringList &ids, const QStringList &removed);
