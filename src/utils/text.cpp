#include "text.h"

#include <QHostAddress>

#include <algorithm>

namespace {

bool isDecimalDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isHexDigit(QChar c)
{
    return isDecimalDigit(c) || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// 0 to 255 in decimal, without a leading zero.
bool isOctet(const QString &part)
{
    if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.startsWith(QLatin1Char('0'))))
        return false;
    return std::all_of(part.cbegin(), part.cend(), isDecimalDigit) && part.toInt() <= 255;
}

bool isPlainIPv4(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    return parts.size() == 4 && std::all_of(parts.cbegin(), parts.cend(), isOctet);
}

bool isHexGroup(const QString &group)
{
    return !group.isEmpty() && group.size() <= 4 &&
           std::all_of(group.cbegin(), group.cend(), isHexDigit);
}

// The ":"-separated groups of one side of "::"; none for an empty side.
QStringList groupsOf(const QString &side)
{
    return side.isEmpty() ? QStringList() : side.split(QLatin1Char(':'));
}

// Eight groups of one to four hex digits, of which the last two may be
// written as a plain IPv4 address; one "::" may stand for one or more zero
// groups.
bool isPlainIPv6(const QString &text)
{
    const QString gapText = QStringLiteral("::");
    const int gap = text.indexOf(gapText);
    if (gap >= 0 && text.indexOf(gapText, gap + 1) >= 0)
        return false;
    QStringList groups = gap < 0 ? text.split(QLatin1Char(':'))
                                 : groupsOf(text.left(gap)) + groupsOf(text.mid(gap + 2));
    int width = groups.size();
    // Only the group that ends the text may be an IPv4 address.
    if (!text.endsWith(QLatin1Char(':')) && isPlainIPv4(groups.last())) {
        groups.removeLast();
        ++width;
    }
    if (!std::all_of(groups.cbegin(), groups.cend(), isHexGroup))
        return false;
    return gap < 0 ? width == 8 : width <= 7;
}

// The eight 16-bit groups of an IPv6 address in RFC 5952 form.
QString canonicalIPv6(const Q_IPV6ADDR &address)
{
    quint16 groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = quint16(address[2 * i] << 8 | address[2 * i + 1]);
    const bool mapped =
        std::all_of(groups, groups + 5, [](quint16 g) { return g == 0; }) && groups[5] == 0xffff;
    if (mapped) {
        return QStringLiteral("::ffff:%1.%2.%3.%4")
            .arg(address[12])
            .arg(address[13])
            .arg(address[14])
            .arg(address[15]);
    }
    // The longest run of zero groups, the first of equal ones; one zero group
    // alone is written as "0".
    int runStart = -1;
    int runLength = 1;
    for (int start = 0; start < 8; ++start) {
        int length = 0;
        while (start + length < 8 && groups[start + length] == 0)
            ++length;
        if (length > runLength) {
            runStart = start;
            runLength = length;
        }
    }
    QString text;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            text += QStringLiteral("::");
            i += runLength - 1;
            continue;
        }
        if (!text.isEmpty() && !text.endsWith(QLatin1Char(':')))
            text += QLatin1Char(':');
        text += QString::number(groups[i], 16);
    }
    return text;
}

} // namespace

bool isIPv4(const QString &text)
{
    return QHostAddress(text).protocol() == QAbstractSocket::IPv4Protocol;
}

bool isIPv6(const QString &text)
{
    return QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol;
}

bool isPlainAddress(const QString &text)
{
    return isPlainIPv4(text) || isPlainIPv6(text);
}

QString canonicalAddress(const QString &text)
{
    if (!isPlainIPv6(text))
        return text;
    return canonicalIPv6(QHostAddress(text).toIPv6Address());
}

QString boundedForLog(const QString &text, int maxLength)
{
    if (text.size() <= maxLength)
        return text;
    // Both at once: a second arg() call would also replace a "%1" that the
    // quoted text itself holds.
    return QStringLiteral("%1... (%2 characters)")
        .arg(text.left(maxLength), QString::number(text.size()));
}

QString boolToString(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString joinNonEmpty(const QStringList &list, const QString &separator)
{
    QStringList taken;
    for (const QString &entry : list) {
        if (!entry.simplified().isEmpty())
            taken.append(entry);
    }
    return taken.join(separator);
}
