#pragma once

#include <QString>
#include <QStringList>

// Interface IDs: adapter GUIDs with braces. Windows ignores their letter case,
// and registry keys keep whichever case they were created with, so IDs are
// always compared ignoring it.

// True for a GUID in braces, such as {6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E01}:
// the only form an interface's registry key may have to be handled. Any
// other text could hold ";" or "@" and break the entry it is recorded in.
bool isInterfaceGuid(const QString &id);

bool sameInterfaceId(const QString &a, const QString &b);
bool containsId(const QStringList &ids, const QString &id);
// `ids`, then the IDs of `more` that it lacks.
QStringList unitedIds(const QStringList &ids, const QStringList &more);
// The IDs of `ids` that `removed` lacks.
QStringList idsWithout(const QStringList &ids, const QStringList &removed);
