#include "initext.h"

#include <QStringList>
#include <QTextCodec>

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
// `position` on, as QSettings does: as many digits as follow, the value
// kept to its last 16 bits.
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

bool isLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// QSettings' white space between lines.
bool isIniSpace(char c)
{
    return isBlank(c) || isLineEnd(c);
}

// One line of the text: its bytes from start to end.
struct IniLine
{
    int start = 0;
    int end = 0;
    int equals = -1; // the first "=" outside quotes
    // A quote still open at a line end: QSettings never writes one, so the
    // file was cut inside a quoted value and whatever follows joined it.
    bool quoteOpenAtLineEnd = false;
};

// Reads the line at `position` as QSettings' reader cuts the text: it skips
// blank lines and ";" comments before it, runs on across line ends inside
// quotes or after a "\", and ends before a line end or a ";" outside quotes.
// False at the end of the text.
bool readLine(const QByteArray &data, int *position, IniLine *line)
{
    const int size = data.size();
    bool inQuotes = false;
    bool quoteOpenAtLineEnd = false;
    int start = *position;
    int equals = -1;
    while (start < size && isIniSpace(data.at(start)))
        ++start;
    int i = start;
    while (i < size) {
        const char c = data.at(i++);
        if (c == '=') {
            if (!inQuotes && equals < 0)
                equals = i - 1;
        } else if (isLineEnd(c) || c == ';') {
            if (c == ';' && i == start + 1) {
                while (i < size && !isLineEnd(data.at(i)))
                    ++i;
                while (i < size && isIniSpace(data.at(i)))
                    ++i;
                start = i;
            } else if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i; // the line end or ";" is not part of the line
                break;
            } else if (isLineEnd(c)) {
                quoteOpenAtLineEnd = true;
            }
        } else if (c == '\\' && i < size) {
            const char escaped = data.at(i++);
            // "\" before "\r\n" or "\n\r" continues the line past both.
            if (i < size && isLineEnd(escaped) && isLineEnd(data.at(i)) && data.at(i) != escaped)
                ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
        }
    }
    *position = i;
    *line = {start, i, equals, quoteOpenAtLineEnd};
    return i > start;
}

// A group or key name as QSettings reads it: "\" as "/", "%XX" and
// "%UXXXX" as that character, every other byte as Latin-1.
QString unescapedName(const QByteArray &name)
{
    QString result;
    for (int i = 0; i < name.size();) {
        const char c = name.at(i);
        if (c == '\\' || c != '%' || i == name.size() - 1) {
            result += c == '\\' ? QLatin1Char('/') : QLatin1Char(c);
            ++i;
            continue;
        }
        const int digitsAt = name.at(i + 1) == 'U' ? i + 2 : i + 1;
        const int digits = name.at(i + 1) == 'U' ? 4 : 2;
        bool ok = false;
        // Qt's own number reading, so that signs and blanks read alike.
        const int code =
            digitsAt + digits <= name.size() ? name.mid(digitsAt, digits).toInt(&ok, 16) : 0;
        if (!ok) {
            result += QLatin1Char('%');
            ++i;
            continue;
        }
        result += QChar(ushort(code));
        i = digitsAt + digits;
    }
    return result;
}

// The number of arguments QSettings finds in "@Type(A B ...)" from the
// "(" at `open` on: one per blank and one per ")".
int argumentCount(const QString &value, int open)
{
    return value.mid(open + 1).count(QLatin1Char(' ')) +
           value.mid(open + 1).count(QLatin1Char(')'));
}

// A single value's text as QSettings' value(key) takes it: "@@" marks a
// text that starts with "@", "@String(...)" a text holding NUL; the other
// "@Type(...)" forms it reads as another type are no text.
IniValue typedValue(const QString &text)
{
    if (text.startsWith(QLatin1Char('@')) && text.endsWith(QLatin1Char(')'))) {
        for (const char *other : {"@ByteArray(", "@Variant(", "@DateTime("}) {
            if (text.startsWith(QLatin1String(other)))
                return {QString(), false};
        }
        if (text.startsWith(QLatin1String("@String(")))
            return {text.mid(8, text.size() - 9), true};
        if ((text.startsWith(QLatin1String("@Rect(")) && argumentCount(text, 5) == 4) ||
            (text.startsWith(QLatin1String("@Size(")) && argumentCount(text, 5) == 2) ||
            (text.startsWith(QLatin1String("@Point(")) && argumentCount(text, 6) == 2) ||
            text == QLatin1String("@Invalid()"))
            return {QString(), false};
    }
    return {text.startsWith(QLatin1String("@@")) ? text.mid(1) : text, true};
}

void chopBlanks(QString *text, int limit)
{
    while (text->size() > limit &&
           (text->endsWith(QLatin1Char(' ')) || text->endsWith(QLatin1Char('\t'))))
        text->chop(1);
}

// The value after "=" as QSettings reads it: blanks before it skipped,
// quotes removed, escapes undone (an unknown one dropped, "\" and a line end
// joining lines), trailing blanks after the last quote or escape dropped; a
// "," outside quotes makes a list. Bytes between escapes are decoded by
// `codec` (UTF-8 after a byte order mark), else read as Latin-1.
IniValue unescapedValue(const QByteArray &text, QTextCodec *codec)
{
    QString value;
    bool list = false;
    bool inQuotes = false;
    bool quoted = false;
    bool chop = true; // a "\" at the very end leaves the blanks before it
    int chopLimit = 0;
    int i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && isBlank(text.at(i)))
            ++i;
        chopLimit = value.size();
    };
    skipBlanks();
    while (i < text.size()) {
        const char c = text.at(i);
        if (c == '\\') {
            if (++i >= text.size()) {
                chop = false;
                break;
            }
            const char code = text.at(i++);
            bool known = false;
            const QChar meaning = escapedCharacter(code, &known);
            if (known)
                value += meaning;
            else if (code == 'x' && i >= text.size())
                chop = false;
            else if (code == 'x' && digitValue(text.at(i), 16) >= 0)
                value += numericEscape(text, &i, 16);
            else if (code >= '0' && code <= '7')
                value += numericEscape(text, &(--i), 8); // the code is the first digit
            else if (isLineEnd(code) && i < text.size() && isLineEnd(text.at(i)) &&
                     text.at(i) != code)
                ++i;
            // Any other escaped character is dropped, as is "\x" without digits.
            chopLimit = value.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (c == ',' && !inQuotes) {
            if (!quoted)
                chopBlanks(&value, chopLimit);
            list = true;
            value.clear();
            quoted = false;
            ++i;
            skipBlanks();
        } else {
            int end = i + 1;
            while (end < text.size() && !QByteArrayLiteral("\\\",").contains(text.at(end)))
                ++end;
            value += codec ? codec->toUnicode(text.constData() + i, end - i)
                           : QString::fromLatin1(text.constData() + i, end - i);
            i = end;
        }
    }
    if (chop && !quoted)
        chopBlanks(&value, chopLimit);
    // A list reads as no text, whatever its items.
    return list ? IniValue{QString(), false} : typedValue(value);
}

const QByteArray byteOrderMark = QByteArrayLiteral("\xef\xbb\xbf");

// A key as QSettings looks it up: no empty parts between slashes, and, as
// Windows' QSettings compares INI keys, in lower case.
QString normalizedKey(const QString &key)
{
    return key.split(QLatin1Char('/'), Qt::SkipEmptyParts).join(QLatin1Char('/')).toLower();
}

// The number of the line at `position`, counting "\r\n" as one line end.
int lineNumber(const QByteArray &bytes, int position)
{
    int number = 1;
    for (int i = 0; i < position; ++i) {
        if (bytes.at(i) == '\n' ||
            (bytes.at(i) == '\r' && (i + 1 == bytes.size() || bytes.at(i + 1) != '\n')))
            ++number;
    }
    return number;
}

// A "[...]" line's group as the prefix of its keys: none for "General".
QString groupPrefix(const QByteArray &bracketed)
{
    const QByteArray name = bracketed.trimmed();
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return QString();
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(name.mid(1)) + QLatin1Char('/');
    return unescapedName(name) + QLatin1Char('/');
}

// The keys' text of one group: every section of that name (letter case
// ignored) in the order of the file, under the prefix of the first.
struct Section
{
    QString prefix;
    QByteArray text;
};

// Gathers the sections by their prefix in lower case, as QSettings does
// before it reads their keys (the text before the first group line, byte
// order mark included, is the one without a group), and notes in `damage`
// the first line that is neither a group line nor holds "=".
QMap<QString, Section> gatherSections(const QByteArray &bytes, bool marked, QString *damage)
{
    QMap<QString, Section> sections;
    QString prefix;
    int sectionStart = 0;
    auto close = [&](int end) {
        auto section = sections.find(prefix.toLower());
        if (section == sections.end())
            section = sections.insert(prefix.toLower(), {prefix, QByteArray()});
        if (!section->text.isEmpty())
            section->text += '\n';
        section->text += bytes.mid(sectionStart, end - sectionStart);
    };
    auto noteDamage = [&](const IniLine &line) {
        if (damage->isEmpty())
            *damage = QStringLiteral("line %1 is no INI line").arg(lineNumber(bytes, line.start));
    };
    int position = marked ? byteOrderMark.size() : 0;
    IniLine line;
    while (readLine(bytes, &position, &line)) {
        if (line.quoteOpenAtLineEnd && damage->isEmpty()) {
            *damage = QStringLiteral("line %1 holds a quote not closed on its line: the file was "
                                     "cut there")
                          .arg(lineNumber(bytes, line.start));
        }
        if (bytes.at(line.start) != '[') {
            if (line.equals < 0)
                noteDamage(line);
            continue;
        }
        close(line.start);
        int end = bytes.indexOf(']', line.start);
        if (end < 0 || end >= line.end) {
            noteDamage(line);
            end = line.end;
        }
        prefix = groupPrefix(bytes.mid(line.start + 1, end - line.start - 1));
        sectionStart = position;
    }
    close(bytes.size());
    return sections;
}

// Reads a section's "key=value" lines into `values`, a later one replacing
// an earlier one of the same key.
void readSection(const Section &section, QTextCodec *codec, QMap<QString, IniValue> *values)
{
    const QByteArray &text = section.text;
    int position = 0;
    IniLine line;
    while (readLine(text, &position, &line)) {
        if (line.equals < 0)
            continue;
        int keyEnd = line.equals;
        while (keyEnd > line.start && isBlank(text.at(keyEnd - 1)))
            --keyEnd;
        const QString key =
            section.prefix + unescapedName(text.mid(line.start, keyEnd - line.start));
        values->insert(
            key.toLower(),
            unescapedValue(text.mid(line.equals + 1, line.end - line.equals - 1), codec));
    }
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

IniValue IniText::value(const QString &key) const
{
    return values.value(normalizedKey(key), {QString(), false});
}

QString IniText::text(const QString &key) const
{
    const IniValue read = value(key);
    return read.isText ? read.text : QString();
}

bool IniText::contains(const QString &key) const
{
    return values.contains(normalizedKey(key));
}

bool IniText::holdsGroup(const QString &group) const
{
    const QString prefix = normalizedKey(group) + QLatin1Char('/');
    const auto first = values.lowerBound(prefix);
    return first != values.cend() && first.key().startsWith(prefix);
}

IniText parseIniText(const QByteArray &bytes)
{
    IniText ini;
    const bool marked = bytes.startsWith(byteOrderMark);
    QTextCodec *codec = marked ? QTextCodec::codecForName("UTF-8") : nullptr;
    const QMap<QString, Section> sections = gatherSections(bytes, marked, &ini.damage);
    for (const Section &section : sections)
        readSection(section, codec, &ini.values);

    const QByteArray text = bytes.mid(marked ? byteOrderMark.size() : 0);
    if (text.contains('\0') || QString::fromUtf8(text).toUtf8() != text)
        ini.damage = QStringLiteral("bytes that are not UTF-8 text");
    for (auto value = ini.values.cbegin(); ini.damage.isEmpty() && value != ini.values.cend();
         ++value) {
        if (!value->isText)
            ini.damage = QStringLiteral("the value of '%1' is not text").arg(value.key());
    }
    if (ini.damage.isEmpty() && !text.isEmpty() && !isLineEnd(text.back()))
        ini.damage = QStringLiteral("a last line without its line end");
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
