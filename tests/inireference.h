#pragma once

#include "store/initext.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

// The data file's INI reader against QSettings' own, over the same bytes:
// the random INI-like text both read, and the comparison of what they read.

// A key and its value as a QSettings read them.
struct ReferenceValue
{
    QString key; // as allKeys() names it
    bool isText = false;
    QString text;
};

// INI-like text with what trips readers up: byte order marks, comments
// after group lines and values, CR, LF and mixed line ends, quotes,
// escapes (lone, without digits, continuing a line), letter case, "%"
// escapes in names, lists, typed "@" values and bytes that are no UTF-8.
// `pick(n)` gives a number below n: from a fuzzer's bytes or a seeded
// generator.
inline QByteArray iniLikeText(const std::function<int(int)> &pick, int lines)
{
    static const QList<QByteArray> groups = {"[UserDns]",
                                             "[VpnDns]",
                                             "[vpndns]",
                                             "[General]",
                                             "[%General]",
                                             "[User%44ns]",
                                             "[VpnDns] ; connected 09:30",
                                             "[VpnDns",
                                             " [ UserDns ] x",
                                             "[Vpn\\Dns]",
                                             "[a\"b]"};
    static const QList<QByteArray> keys = {"Args",     "ARGS",        "IPv4",      "ipv6",
                                           "Switched", "A%72gs",      "A%U0072gs", "Us\\Args",
                                           " Args\t",  "SwitchedFor", "%zz",       ""};
    static const QList<QByteArray> pieces = {"{A}@1.1.1.1", ",",
                                             ";",           " ",
                                             "\t",          "\"",
                                             "\\",          "\\x",
                                             "\\x41",       "\\x4g",
                                             "\\t",         "\\0",
                                             "\\101",       "\\q",
                                             "\\\"",        "=",
                                             "@",           "@@",
                                             "@String(",    ")",
                                             "@Invalid()",  "@Rect(1 2 3 4)",
                                             "@Size(1 2)",  "@ByteArray(",
                                             "\xe9",        "\xc3\xa9",
                                             "\xff\xfe",    QByteArray(1, '\0'),
                                             "%41",         "; note",
                                             "\\\n",        "\\\r\n",
                                             "\n",          "fd00::1"};
    static const QList<QByteArray> ends = {"\n", "\r\n", "\r", "\n\r", ""};
    QByteArray text = pick(4) == 0 ? QByteArray("\xef\xbb\xbf") : QByteArray();
    for (int line = 0; line < lines; ++line) {
        const int kind = pick(8);
        if (kind == 0) {
            text += groups.at(pick(groups.size()));
        } else if (kind == 1) {
            text += "; a comment";
        } else if (kind == 2) {
            text += "no equals sign";
        } else {
            text += keys.at(pick(keys.size())) + (pick(2) ? "=" : " = ");
            for (int count = pick(6); count > 0; --count)
                text += pieces.at(pick(pieces.size()));
        }
        text += ends.at(pick(ends.size()));
    }
    return text;
}

// What Debian's or Windows' QSettings reads from an INI file.
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

// How `ini` differs from what a QSettings read: keys compared in lower
// case; a key that a case-sensitive QSettings holds in more than one
// letter case is left out (Windows' decides it). A typed "@Variant(" or
// "@DateTime(" value may be text to QSettings; the reader takes it for
// none, as it cannot tell. Empty when alike.
inline QString iniDifference(const IniText &ini, const QList<ReferenceValue> &reference,
                             const QByteArray &bytes)
{
    QMap<QString, int> spellings;
    for (const ReferenceValue &value : reference)
        ++spellings[foldedKey(value.key)];
    QStringList ours;
    for (auto value = ini.values.cbegin(); value != ini.values.cend(); ++value)
        ours.append(foldedKey(value.key()));
    ours.removeDuplicates();
    QStringList theirs = spellings.keys();
    ours.sort();
    if (ours != theirs)
        return QStringLiteral("keys %1, QSettings: %2")
            .arg(ours.join(QLatin1Char('|')), theirs.join(QLatin1Char('|')));
    const bool typed = bytes.contains("@Variant(") || bytes.contains("@DateTime(");
    for (const ReferenceValue &value : reference) {
        const IniValue read = ini.value(value.key);
        // QSettings looks up no empty key.
        if (foldedKey(value.key).isEmpty() || spellings.value(foldedKey(value.key)) > 1 ||
            (typed && !read.isText))
            continue;
        if (read.isText != value.isText || read.text != value.text)
            return QStringLiteral("'%1': '%2' (%3), QSettings: '%4' (%5)")
                .arg(value.key, read.text, read.isText ? "text" : "no text", value.text,
                     value.isText ? "text" : "no text");
    }
    return QString();
}
