#pragma once

#include <QString>
#include <QStringList>

// Shared behaviour of the stand-ins for Windows system commands and
// libraries: every call is written to ROOT/journal, and ROOT/faults/<name>
// may make it misbehave.

// Hangs for 120 s, as a command that never answers: it does not watch its
// caller, as no real command does. While it hangs it appends a byte to
// ROOT/heartbeat every 100 ms, so that a test sees whether it still runs.
int hang(const QString &root);

// One line per call: the name, then each argument, TAB-separated.
void appendToJournal(const QString &root, const QString &name, const QStringList &arguments);

// The action of the first rule in ROOT/faults/<name> that applies to a call
// with these arguments ("fail", "hang", "crash", "noop", or "utf16": wmic
// answers in UTF-16LE), or "" for none.
// The rules are faultActionIn's (machinecommands.h), one a line.
QString faultAction(const QString &root, const QString &name, const QStringList &arguments);
