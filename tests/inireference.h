#pragma once

#include "store/initext.h"

#include <QSettings>
#include <QStringList>

#include <functional>

// The data file's INI reader against QSettings over the same bytes.

// A key (as allKeys() names it) and its value as a QSettings read them.
struct ReferenceValue
{
    QString key;
    bool isText = false;
    QString text;
};

// INI-like text with what trips readers up: byte order marks, comments,
// CR/LF line ends, quotes, escapes, letter case, "%" escapes in names,
// lists, typed "@" values, bytes that are no UTF-8. `pick(n)` is below n.
inline QByteArray iniLikeText(const std::function<int(int)> &pick, int lines)
{
    static const QList<QByteArray> groups = {
        "[UserDns]",   "[vpndns]", "[VpnDns] ; 9:30", "[General]",  "[%General]",
        "[User%44ns]", "[VpnDns",  " [ UserDns ] x",  "[Vpn\\Dns]", "[a\"b]"};
    static const QList<QByteArray> keys = {"Args",        "ARGS",   "IPv4",      "ipv6",
                                           "SwitchedFor", "A%72gs", "A%U0072gs", "Us\\Args",
                                           " Args\t",     "%zz",    ""};
    static const QList<QByteArray> pieces = {"{A}@1.1.1.1", ",",           ";",
                                             " ",           "\t",          "\"",
                                             "\\",          "\\x",         "\\x41",
                                             "\\x4g",       "\\t",         "\\0",
                                             "\\101",       "\\q",         "=",
                                             "@",           "@@",          "@String(",
                                             ")",           "@Invalid()",  "@Rect(1 2 3 4)",
                                             "@Size(1 2)",  "@ByteArray(", "\xe9",
                                             "\xc3\xa9",    "\xff\xfe",    QByteArray(1, '\0'),
                                             "%41",         "; note",      "\\\n",
                                             "\\\r\n",      "\n"};
    static const QList<QByteArray> ends = {"\n", "\r\n", "\r", "\n\r", ""};
    QByteArray text = pick(4) == 0 ? "\xef\xbb\xbf" : "";
    for (int line = 0; line < lines; ++line) {
        const int kind = pick(8);
        if (kind < 2) {
            text += kind == 0 ? groups.at(pick(groups.size())) : "no equals sign";
        } else {
            text += keys.at(pick(keys.size())) + (pick(2) ? "=" : " = ");
            for (int count = pick(6); count > 0; --count)
                text += pieces.at(pick(pieces.size()));
        }
        text += ends.at(pick(ends.size()));
    }
    return text;
}

inline QList<ReferenceValue> qsettingsValues(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    QList<ReferenceValue> values;
    for (const QString &key : settings.allKeys()) {
        const QVariant value = settings.value(key);
        const bool isText = value.userType() == QMetaType::QString;
        values.append({key, isText, isText ? value.toString() : QString()});
    }
    return values;
}

// A key as both readers look it up: no empty parts, in lower case.
inline QString foldedKey(const QString &key)
{
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/')).toLower();
}

// How `ini` differs from what a QSettings read, keys in lower case; empty
// when alike. A key that a case-sensitive QSettings holds in more than one
// letter case is left out (Windows' decides it), and so is a "@Variant("
// or "@DateTime(" value the reader takes for no text: it cannot tell.
inline QString iniDifference(const IniText &ini, const QList<ReferenceValue> &reference,
                             const QByteArray &bytes)
{
    QMap<QString, int> spellings;
    for (const ReferenceValue &value : reference)
        ++spellings[foldedKey(value.key)];
    QStringList ours;
    for (const QString &key : ini.values.keys())
        ours.append(foldedKey(key));
    ours.removeDuplicates();
    ours.sort();
    if (ours != spellings.keys())
        return "keys " + ours.join('|') + ", QSettings: " + spellings.keys().join('|');
    const bool typed = bytes.contains("@Variant(") || bytes.contains("@DateTime(");
    for (const ReferenceValue &value : reference) {
        const IniValue read = ini.value(value.key);
        // QSettings looks up no empty key.
        if (!foldedKey(value.key).isEmpty() && spellings.value(foldedKey(value.key)) == 1 &&
            !(typed && !read.isText) && (read.isText != value.isText || read.text != value.text))
            return value.key + ": '" + read.text + "', QSettings: '" + value.text + "'";
    }
    return QString();
}
