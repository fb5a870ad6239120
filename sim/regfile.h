#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The registry of a simulated machine as a Windows registration file, the
// form regedit imports (/S) and exports (/E): how the Windows machine under
// Wine gets the same registry as the simulated one, and how what its
// programs changed there is read back.

// The keys that make up a machine: everything the tool reads lies below them.
QStringList machineRootKeys();

// A file (UTF-16 with byte order mark, CRLF line ends) that deletes every
// machine root key and then writes ROOT's keys and values below them.
QByteArray registrationFileOf(const QString &root);

// Replaces ROOT's machine root keys with the keys and string values that the
// registration files hold below them; values of other types are left out,
// and a root key that no file holds is left empty.
void readRegistrationFiles(const QString &root, const QList<QByteArray> &files);
