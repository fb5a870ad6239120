#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// Qt's INI form of a settings file, limited to what the data file holds:
// string values in groups. The tool reads and writes the bytes itself, so
// that it reads and writes exactly the file it checked and never waits on a
// lock file of its own. It reads every file to the keys and values that the
// Windows build's QSettings (Qt 5.15) reads, which earlier versions of the
// tool read and wrote it with, and writes what that QSettings reads back.

// A value as QSettings::value(key) gives it.
struct IniValue
{
    QString text;       // its toString(), when it is text
    bool isText = true; // false for a list or a value of another type
};

// What a file's text holds.
struct IniText
{
    // The values by "group/key" in lower case (Windows' QSettings ignores
    // letter case in INI files); the last one where a key repeats.
    QMap<QString, IniValue> values;
    // Why the text does not read whole: a line that is no INI line, a value
    // that is not text, bytes that are not UTF-8 text, or a last line
    // without its line end (a file cut short). Empty when it reads whole.
    QString damage;

    bool isWhole() const { return damage.isEmpty(); }
    // The value QSettings::value(key) gives: the key's slashes normalized,
    // its letter case ignored; an absent key reads as no text.
    IniValue value(const QString &key) const;
    // QSettings::value(key).toString(): the key's slashes normalized, its
    // letter case ignored; empty for a key that is absent or not text.
    QString text(const QString &key) const;
    bool contains(const QString &key) const;
    // Whether any key lies in the group (childGroups() names it).
    bool holdsGroup(const QString &group) const;
};

// Reads the text as Windows' QSettings does: an optional UTF-8 byte order
// mark (values then decoded as UTF-8, else as Latin-1), ";" comments, also
// after a group line or a value, quotes and "\" continuing a line, "%XX"
// escapes in names, "[General]" as no group, sections of one name merged.
IniText parseIniText(const QByteArray &bytes);

// The text of `values` ("Group/Key" and value, in order; a group's keys
// together) as QSettings writes it: a "[Group]" line per group, values with
// its quotes and escapes, lines ending in "\r\n".
QByteArray formatIniText(const QList<QPair<QString, QString>> &values);
