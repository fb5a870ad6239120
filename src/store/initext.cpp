#include "initext.h"

#include <QStringList>

#include <cctype>

namespace {

// The control characters QSettings escapes by a letter, and those letters.
const QByteArray namedControls = QByteArrayLiteral("\a\b\f\n\r\t\v");
const QByteArray controlLetters = QByteArrayLiteral("abfnrtv");
// The characters QSettings reads as themselves after a "\".
const QByteArray selfEscaped = QByteArrayLiteral("\"?'\\");

// What a "\" and `code` stand for, when it is a letter or self escape.
QChar escapedCharacter(char code, bool *known)
{
    const int letterAt = controlLetters.indexOf(code);
    *known = letterAt >= 0 || selfEscaped.contains(code);
    return QLatin1Char(letterAt >= 0 ? namedControls.at(letterAt) : code);
}

// The value of a digit in `base` (8 or 16), or -1 for none.
int digitValue(char c, int base)
{
    const int value =
        QByteArrayLiteral("0123456789abcdef").indexOf(char(tolower(static_cast<unsigned char>(c))));
    return value < base ? value : -1;
}

// Reads the digits of a "\x" (hex) or "\0".."\7" (octal) escape from
// `position` on, as QSettings does: as many digits as follow.
QChar numericEscape(const QByteArray &text, int *position, int base)
{
    uint value = 0;
    for (; *position < text.size(); ++*position) {
        const int digit = digitValue(text.at(*position), base);
        if (digit < 0)
            break;
        value = value * uint(base) + uint(digit);
    }
    return QChar(ushort(value));
}

// The value after "=": quotes removed, escapes undone, the bytes as Latin-1,
// blanks around an unquoted value dropped.
QString unescapedValue(const QByteArray &text)
{
    QString value;
    bool quoted = false;
    int position = 0;
    while (position < text.size() && (text.at(position) == ' ' || text.at(position) == '\t'))
        ++position;
    while (position < text.size()) {
        const char c = text.at(position++);
        if (c == '"') {
            quoted = true;
            continue;
        }
        if (c != '\\' || position == text.size()) {
            value += QLatin1Char(c);
            continue;
        }
        const char code = text.at(position++);
        bool known = false;
        const QChar meaning = escapedCharacter(code, &known);
        if (known)
            value += meaning;
        else if (code == 'x')
            value += numericEscape(text, &position, 16);
        else if (code >= '0' && code <= '7') {
            --position; // the first octal digit is the code itself
            value += numericEscape(text, &position, 8);
        }
        // Any other escaped character is dropped, as QSettings drops it.
    }
    if (!quoted) {
        while (value.endsWith(QLatin1Char(' ')) || value.endsWith(QLatin1Char('\t')))
            value.chop(1);
    }
    // QSettings marks a text that starts with "@" by doubling it, writes a
    // text holding NUL as "@String(...)", and an absent value as
    // "@Invalid()".
    const QString wrapped = QStringLiteral("@String(");
    if (value == QLatin1String("@Invalid()"))
        return QString();
    if (value.startsWith(wrapped) && value.endsWith(QLatin1Char(')')))
        return value.mid(wrapped.size(), value.size() - wrapped.size() - 1);
    return value.startsWith(QLatin1String("@@")) ? value.mid(1) : value;
}

QList<QByteArray> lines(const QByteArray &bytes)
{
    QByteArray text = bytes;
    text.replace('\r', '\n');
    return text.split('\n');
}

// A value as QSettings writes it: "\" escapes, control and non-ASCII
// characters as "\x" escapes, quoted when it holds ";", "," or "=" or
// starts or ends with a blank.
QByteArray escapedValue(const QString &value)
{
    const QString text = value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value;
    QByteArray escaped;
    bool hexBefore = false; // a digit after a numeric escape would extend it
    for (const QChar character : text) {
        const ushort code = character.unicode();
        const bool hexDigit = code < 0x80 && digitValue(char(code), 16) >= 0;
        const int namedAt = code < 0x80 ? namedControls.indexOf(char(code)) : -1;
        if ((hexBefore && hexDigit) || code == 0 ||
            (namedAt < 0 && (code < 0x20 || code >= 0x7f))) {
            escaped += code == 0 ? QByteArray("\\0") : "\\x" + QByteArray::number(code, 16);
            hexBefore = true;
            continue;
        }
        hexBefore = false;
        if (namedAt >= 0)
            escaped += '\\' + QByteArray(1, controlLetters.at(namedAt));
        else if (code == '"' || code == '\\')
            escaped += '\\' + QByteArray(1, char(code));
        else
            escaped += char(code);
    }
    const bool quoted = text.contains(QLatin1Char(';')) || text.contains(QLatin1Char(',')) ||
                        text.contains(QLatin1Char('=')) || escaped.startsWith(' ') ||
                        escaped.endsWith(' ');
    return quoted ? '"' + escaped + '"' : escaped;
}

} // namespace

IniText parseIniText(const QByteArray &bytes)
{
    IniText ini;
    QString group;
    int number = 0;
    for (const QByteArray &rawLine : lines(bytes)) {
        ++number;
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        const int equals = line.indexOf('=');
        if (line.startsWith('[') && line.endsWith(']')) {
            group = QString::fromLatin1(line.mid(1, line.size() - 2));
        } else if (equals > 0 && !line.startsWith('[')) {
            const QString key = QString::fromLatin1(line.left(equals).trimmed());
            ini.values.insert(group.isEmpty() ? key : group + QLatin1Char('/') + key,
                              unescapedValue(line.mid(equals + 1)));
        } else if (ini.firstBadLine == 0) {
            ini.firstBadLine = number;
        }
    }
    return ini;
}

QByteArray formatIniText(const QList<QPair<QString, QString>> &values)
{
    QByteArray text;
    QString group;
    for (const auto &value : values) {
        const QString keyGroup = value.first.section(QLatin1Char('/'), 0, 0);
        if (keyGroup != group) {
            if (!text.isEmpty())
                text += "\r\n";
            text += '[' + keyGroup.toLatin1() + "]\r\n";
            group = keyGroup;
        }
        text += value.first.section(QLatin1Char('/'), 1).toLatin1() + '=' +
                escapedValue(value.second) + "\r\n";
    }
    return text;
}
