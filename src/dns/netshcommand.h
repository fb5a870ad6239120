#pragma once

#include <QString>
#include <QStringList>

// The netsh argument list that puts `address` at `position` (0-based) of an
// interface's DNS servers: "set ... static" for the first position, which
// replaces the whole list, "add ... index=N" for every later one.
QStringList netshDnsArguments(bool ipv4, const QString &connectionName, const QString &address,
                              int position);
