#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// Qt's INI form of a settings file, limited to what the data file holds:
// string values in groups. The tool reads and writes the bytes itself, so
// that it reads and writes exactly the file it checked and never waits on a
// lock file of its own; files that QSettings wrote read alike, and files
// written here read alike with QSettings (earlier versions of the tool).

// What a file's text holds.
struct IniText
{
    // The values by "Group/Key"; the last one where a key repeats.
    QMap<QString, QString> values;
    // The number of the first line that is neither blank, a ";" comment, a
    // "[Group]" nor a "Key=Value" line; 0 when every line is one of them.
    int firstBadLine = 0;
};

// Reads the text as QSettings does, but for two leniencies that keep what a
// hand edit wrote: an unquoted value runs to the end of its line (QSettings
// would end it at a ";" and read the rest as a comment), and a "," outside
// quotes is part of the value (QSettings would make a list of it, which
// reads as no text at all). Lines end at "\n", "\r" or both.
IniText parseIniText(const QByteArray &bytes);

// The text of `values` ("Group/Key" and value, in order; a group's keys
// together) as QSettings writes it: a "[Group]" line per group, values with
// its quotes and escapes, lines ending in "\r\n".
QByteArray formatIniText(const QList<QPair<QString, QString>> &values);
