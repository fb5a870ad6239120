#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

// The adapter GUIDs in the output of "wmic nic where ... get GUID" or of the
// powershell listing: every line that starts with "{" once blanks and
// carriage returns are trimmed, upper-cased. The output is read as UTF-8 up
// to its first NUL byte.
QSet<QString> parseAdapterGuids(const QByteArray &output);
